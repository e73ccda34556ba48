#include "image/IsoNames.h"

#include <algorithm>

namespace image {

namespace {
constexpr size_t kBaseChars = 8;
constexpr size_t kExtensionChars = 3;
}  // namespace

void KeepIsoChars(std::string& text) {
  text.erase(
      std::remove_if(
          text.begin(), text.end(),
          [](char c) { return !((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'); }),
      text.end());
}

std::string MakeIsoName(const std::string& name) {
  std::string upper = name;
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  std::string base = upper;
  std::string extension;
  const size_t dot = upper.rfind('.');
  // A dot in first place (".profile") is part of the name, not a separator.
  if (dot != std::string::npos && dot > 0) {
    base = upper.substr(0, dot);
    extension = upper.substr(dot + 1, kExtensionChars);
  }
  KeepIsoChars(extension);
  KeepIsoChars(base);
  if (base.size() > kBaseChars) base.resize(kBaseChars);
  return base + "." + extension + ";1";
}

}  // namespace image
