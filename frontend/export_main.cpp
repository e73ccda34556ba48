// Entry point of installer-export.
#include <cstdio>
#include <string>
#include <vector>

#include "frontend/ExportCommand.h"
#include "platform/Host.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  auto files = platform::MakeHostFileSystem();
  auto system = platform::MakeHostSystem();
  std::string out;
  std::string err;
  const int code = frontend::RunExport(args, *files, *system, &out, &err);
  std::fputs(out.c_str(), stdout);
  std::fputs(err.c_str(), stderr);
  return code;
}
