// The 8.3 identifier of any stored name has the shape BASE.EXT;1 with at most 8 and 3
// characters of A-Z, 0-9 and the underscore.
#include <string>

#include "image/IsoNames.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string id = image::MakeIsoName(std::string(reinterpret_cast<const char*>(data), size));
  const size_t dot = id.find('.');
  if (id.size() < 3 || id.size() > 14 || id.compare(id.size() - 2, 2, ";1") != 0 ||
      dot == std::string::npos || dot > 8 || id.size() - 3 - dot > 3)
    __builtin_trap();
  for (size_t i = 0; i + 2 < id.size(); ++i) {
    if (i != dot &&
        std::string("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_").find(id[i]) == std::string::npos)
      __builtin_trap();
  }
  return 0;
}
