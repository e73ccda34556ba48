// The exporter's image files on Windows: what a path names (device paths and reserved
// device names included), and outputs that appear under their name only when complete,
// or go to standard output.
#pragma once

#include <memory>
#include <string>

#include "platform/File.h"

namespace platform {

/// What `path` names.
PathKind Win32PathKind(const std::string& path);
/// An output written to `path`.partial, moved to `path` by Commit.
std::unique_ptr<OutputFile> CreateWin32Output(const std::string& path, std::string* error);
/// Standard output as an output, written unchanged (binary).
std::unique_ptr<OutputFile> Win32StandardOutput(std::string* error);
/// The text of the calling thread's last error.
std::string LastErrorText();

}  // namespace platform
