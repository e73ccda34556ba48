// Manifests: the text form of an install.dat's contents. One entry per line:
//
//   <id> text <characters>   a text; \n, \r, \t, \\ and \xHH are escapes
//   <id> file <path>         a file's bytes; relative paths start at the manifest's folder,
//                            and ${NAME} is replaced by a value given on the command line
//
// Blank lines and lines starting with # are skipped.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "tools/mkinstalldat/DatWriter.h"

namespace mkinstalldat {

/// Reads `path` and appends its entries. False with `*error` set (file and line) on a
/// line that cannot be understood or a file that cannot be read.
[[nodiscard]] bool ReadManifest(const std::string& path,
                                const std::map<std::string, std::string>& variables,
                                std::vector<DatEntry>* entries, std::string* error);

/// Appends every file of `folder` whose name is a number, optionally followed by a dot and
/// anything (1000.txt, 100.bmp, 10002), as that entry's raw bytes, in number order.
[[nodiscard]] bool ReadFolder(const std::string& folder, std::vector<DatEntry>* entries,
                              std::string* error);

/// Reads a whole file; false when it cannot.
[[nodiscard]] bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes);

}  // namespace mkinstalldat
