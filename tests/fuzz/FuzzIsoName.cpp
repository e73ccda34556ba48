// The 8.3 identifier of any stored name has the shape BASE.EXT;1 with at most 8 and 3
// characters of A-Z, 0-9 and the underscore.
#include <string>

#include "image/IsoNames.h"

namespace {
bool Allowed(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string name(reinterpret_cast<const char*>(data), size);
  const std::string identifier = image::MakeIsoName(name);
  const size_t dot = identifier.find('.');
  const bool shaped = identifier.size() <= 14 && identifier.size() >= 3 &&
                      identifier.compare(identifier.size() - 2, 2, ";1") == 0 &&
                      dot != std::string::npos && dot <= 8 && identifier.size() - 2 - dot - 1 <= 3;
  if (!shaped) __builtin_trap();
  for (size_t i = 0; i + 2 < identifier.size(); ++i) {
    if (i != dot && !Allowed(identifier[i])) __builtin_trap();
  }
  return 0;
}
