// Entry point of mrvdbtool: hands the (UTF-8) arguments to the registered subcommands.
#include "CmdConvertConsole.h"
#include "ToolCommands.h"

#ifdef _WIN32
#include "ToolArgs.h"

int wmain(int argc, wchar_t** argv) {
  mrvtool::TUtf8Args args(argc, argv);
  mrvtool::IgnoreBrokenPipe();
  return mrvtool::RunTool(args.Argc(), args.Argv());
}
#else
int main(int argc, char** argv) {
  mrvtool::IgnoreBrokenPipe();
  return mrvtool::RunTool(argc, argv);
}
#endif
