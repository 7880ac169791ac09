#pragma once
// Runs a built program for a test: `"program" args`, standard input from a file (or the null
// device), standard output and error into files. Returns the exit code, or -1 when the
// program could not be started or did not exit normally.
//
// On Windows the program is started with CreateProcess and inherited file handles rather than
// through the command interpreter: cmd.exe mangles long quoted command lines (Wine's gives up
// on them as "not an internal or external command"), and the tests pass long temporary paths.
#include <filesystem>
#include <string>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <vector>
extern char** environ;
#endif

namespace testsupport {

inline int RunProgram(const std::filesystem::path& program, const std::string& args,
                      const std::filesystem::path& input, const std::filesystem::path& output,
                      const std::filesystem::path& errors) {
#ifdef _WIN32
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  auto open = [&](const std::filesystem::path& p, bool write) {
    return CreateFileW(p.empty() ? L"NUL" : p.wstring().c_str(),
                       write ? GENERIC_WRITE : GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       &inherit, write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
  };
  HANDLE in = open(input, false), out = open(output, true), err = open(errors, true);
  int exitCode = -1;
  if (in != INVALID_HANDLE_VALUE && out != INVALID_HANDLE_VALUE && err != INVALID_HANDLE_VALUE) {
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = in;
    si.hStdOutput = out;
    si.hStdError = err;
    // The arguments are ANSI text with paths from the test; widen them as the system would.
    const std::string line = "\"" + program.string() + "\" " + args;
    std::wstring wide(MultiByteToWideChar(CP_ACP, 0, line.c_str(), -1, nullptr, 0), L'\0');
    MultiByteToWideChar(CP_ACP, 0, line.c_str(), -1, wide.data(), static_cast<int>(wide.size()));
    PROCESS_INFORMATION pi{};
    if (CreateProcessW(nullptr, wide.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si,
                       &pi)) {
      WaitForSingleObject(pi.hProcess, INFINITE);
      DWORD code = 0;
      if (GetExitCodeProcess(pi.hProcess, &code)) exitCode = static_cast<int>(code);
      CloseHandle(pi.hThread);
      CloseHandle(pi.hProcess);
    } else {
      // Say why in the captured errors, which the failing test prints.
      const std::string why =
          "could not start " + line + ": error " + std::to_string(GetLastError());
      DWORD written = 0;
      WriteFile(err, why.data(), static_cast<DWORD>(why.size()), &written, nullptr);
    }
  }
  for (HANDLE h : {in, out, err})
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  return exitCode;
#else
  auto quoted = [](const std::filesystem::path& p, const char* fallback) {
    return p.empty() ? std::string(fallback) : "\"" + p.string() + "\"";
  };
  const std::string cmd = "\"" + program.string() + "\" " + args + " <" +
                          quoted(input, "/dev/null") + " >" + quoted(output, "/dev/null") + " 2>" +
                          quoted(errors, "/dev/null");
  const int rc = std::system(cmd.c_str());
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
#endif
}

#ifndef _WIN32
// Starts `args` (the program first) without waiting: standard input from the null device,
// standard output into the file `output`, standard error into `errors` (a file or a terminal
// device) or inherited when empty. Returns the process id, or -1 when it could not be started.
inline pid_t SpawnProgram(std::vector<std::string> args, const std::string& output,
                          const std::string& errors = "") {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (!errors.empty())
    posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_RDWR | O_NOCTTY | O_CREAT,
                                     0644);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}
#endif

}  // namespace testsupport
