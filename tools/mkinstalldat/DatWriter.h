// Writes install.dat files: header, directory, then the entries' bytes in directory order.
// The layout knobs make the malformed files that the installer must refuse or survive.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace mkinstalldat {

struct DatEntry {
  uint16_t id = 0;
  std::vector<uint8_t> data;
};

/// Departures from a well-formed file. The defaults write a well-formed one.
struct DatLayout {
  uint32_t magic = 0xFEAFBEBAu;
  uint16_t version = 1;
  std::optional<uint16_t> entryCount;       ///< claimed count, instead of the real one
  std::optional<uint32_t> directoryOffset;  ///< claimed offset, instead of 14
  std::map<uint16_t, uint32_t> dataOffset;  ///< per id: claimed offset of its data
  std::map<uint16_t, uint32_t> dataSize;    ///< per id: claimed size of its data
  std::optional<size_t> truncateTo;         ///< cut the finished file to this many bytes
};

std::vector<uint8_t> BuildDataFile(const std::vector<DatEntry>& entries,
                                   const DatLayout& layout = DatLayout());

}  // namespace mkinstalldat
