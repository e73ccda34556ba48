// The exporter's image files on Linux: what a path names, and outputs that appear under
// their name only when complete, or go to standard output.
#pragma once

#include <memory>
#include <string>

#include "platform/File.h"

namespace platform {

/// What `path` names, following symbolic links.
PathKind LinuxPathKind(const std::string& path);
/// An output written to `path`.partial, renamed to `path` by Commit.
std::unique_ptr<OutputFile> CreateLinuxOutput(const std::string& path, std::string* error);
/// Standard output as an output.
std::unique_ptr<OutputFile> LinuxStandardOutput(std::string* error);

}  // namespace platform
