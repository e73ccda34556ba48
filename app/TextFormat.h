// Fills the data file's printf-style texts. The texts come from a file, not from the
// program, so a conversion is only filled when it matches the kind of the argument that
// the program passes in its place; any other conversion stays in the text as written.
// A wrong or hostile data file thus shows odd text, never reads a missing argument.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

namespace app {

struct TextArg {
  enum class Kind { Number, Letter, Text };
  static TextArg Number(uint64_t value) { return {Kind::Number, value, 0, {}}; }
  static TextArg Letter(char value) { return {Kind::Letter, 0, value, {}}; }
  static TextArg Text(std::string value) { return {Kind::Text, 0, 0, std::move(value)}; }

  Kind kind;
  uint64_t number;
  char letter;
  std::string text;
};

/// `format` with its conversions filled from `args` in order: %u %d %i %x %X %o take a
/// Number, %c a Letter, %s a Text; flags, width and precision are honoured (width and
/// precision up to 3 digits, no '*'); %% is a percent sign.
std::string FormatText(const std::string& format, std::initializer_list<TextArg> args);

}  // namespace app
