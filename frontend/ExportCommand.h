// installer-export: writes the images that the installer's jobs produce to files, so that
// they can be checked, archived or written with other tools.
#pragma once

#include <string>
#include <vector>

#include "platform/File.h"
#include "platform/System.h"

namespace frontend {

/// Runs the exporter with `args` (without the program name). Messages go to `*out` and
/// `*err`; the result is the process exit code: 0 done, 1 failed, 2 bad command line.
int RunExport(const std::vector<std::string>& args, platform::FileSystem& files,
              platform::System& system, std::string* out, std::string* err);

}  // namespace frontend
