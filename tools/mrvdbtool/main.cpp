#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::puts("mrvdbtool - inspect embedded database files and convert them into External Databases");
    return 0;
  }
  std::fputs("mrvdbtool: no command given (try --help)\n", stderr);
  return 2;
}
