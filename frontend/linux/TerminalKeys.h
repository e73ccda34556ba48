// What the terminal dialog's own files share: the keys as the dialog sees them, and the
// one-line form of a text for status lines, captions and batch output.
#pragma once

#include <string>

namespace frontend {
namespace terminal {

// Keys as the dialog sees them: characters as themselves, the rest above the byte range.
constexpr int kKeyNone = -1;
constexpr int kKeyEnd = -2;  // the input has ended
constexpr int kKeyEnter = 0x100;
constexpr int kKeyEscape = 0x101;
constexpr int kKeyUp = 0x102;
constexpr int kKeyDown = 0x103;
constexpr int kKeyTab = 0x104;

/// How long one wait for a key lasts before the waiting thread looks around again.
constexpr int kReadWaitMs = 100;

/// A text as terminal text on one line: line breaks become spaces.
std::string OneLine(const std::string& text);

}  // namespace terminal
}  // namespace frontend
