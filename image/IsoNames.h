// Names on the CD: the 8.3 identifiers of the ISO 9660 tree. The Joliet tree carries each
// name as the data file stores it.
#pragma once

#include <string>

namespace image {

/// Removes, in place, every character other than A-Z, 0-9 and the underscore.
void KeepIsoChars(std::string& text);

/// The ISO 9660 identifier BASE.EXT;1 of a stored name (at most 14 characters): upper case,
/// split at the last dot unless that dot comes first, extension cut to 3 characters and
/// base to 8, each keeping only A-Z, 0-9 and the underscore.
std::string MakeIsoName(const std::string& name);

}  // namespace image
