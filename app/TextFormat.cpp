#include "app/TextFormat.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <vector>

namespace app {

namespace {

bool Accepts(TextArg::Kind kind, char conversion) {
  if (conversion == '\0') return false;  // strchr would find the terminator
  switch (kind) {
    case TextArg::Kind::Number:
      return std::strchr("uidxXo", conversion) != nullptr;
    case TextArg::Kind::Letter:
      return conversion == 'c';
    case TextArg::Kind::Text:
      return conversion == 's';
  }
  return false;
}

// Formats one argument with a conversion whose parts were checked: flags from "-+ #0",
// up to three digits of width and of precision, and the conversion letter.
std::string FormatOne(const std::string& pattern, char conversion, const TextArg& arg) {
  char out[1200];
  switch (arg.kind) {
    case TextArg::Kind::Number: {
      const std::string full = pattern + "ll" + conversion;
      if (conversion == 'd' || conversion == 'i') {
        std::snprintf(out, sizeof out, full.c_str(), static_cast<long long>(arg.number));
      } else {
        std::snprintf(out, sizeof out, full.c_str(), static_cast<unsigned long long>(arg.number));
      }
      break;
    }
    case TextArg::Kind::Letter:
      std::snprintf(out, sizeof out, (pattern + 'c').c_str(), arg.letter);
      break;
    case TextArg::Kind::Text:
      std::snprintf(out, sizeof out, (pattern + 's').c_str(), arg.text.c_str());
      break;
  }
  return out;
}

}  // namespace

std::string FormatText(const std::string& format, std::initializer_list<TextArg> args) {
  std::vector<TextArg> remaining(args);
  size_t nextArg = 0;
  std::string result;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') {
      result.push_back(format[i]);
      continue;
    }
    if (i + 1 < format.size() && format[i + 1] == '%') {
      result.push_back('%');
      ++i;
      continue;
    }
    // Read the conversion: flags, width, precision, length letters, conversion letter.
    size_t at = i + 1;
    std::string pattern = "%";
    while (at < format.size() && std::strchr("-+ #0", format[at]) != nullptr &&
           format[at] != '\0') {
      pattern.push_back(format[at++]);
    }
    size_t digits = 0;
    while (at < format.size() && std::isdigit(static_cast<unsigned char>(format[at]))) {
      pattern.push_back(format[at++]);
      ++digits;
    }
    bool sane = digits <= 3;
    if (at < format.size() && format[at] == '.') {
      pattern.push_back(format[at++]);
      size_t precision = 0;
      while (at < format.size() && std::isdigit(static_cast<unsigned char>(format[at]))) {
        pattern.push_back(format[at++]);
        ++precision;
      }
      sane = sane && precision <= 3;
    }
    while (at < format.size() && std::strchr("hlLqjzt", format[at]) != nullptr &&
           format[at] != '\0') {
      ++at;  // the program decides the argument's width, not the text
    }
    const char conversion = at < format.size() ? format[at] : '\0';
    if (sane && nextArg < remaining.size() && Accepts(remaining[nextArg].kind, conversion)) {
      result += FormatOne(pattern, conversion, remaining[nextArg++]);
      i = at;
    } else {
      result.push_back('%');  // left as written; the rest follows as plain characters
    }
  }
  return result;
}

}  // namespace app
