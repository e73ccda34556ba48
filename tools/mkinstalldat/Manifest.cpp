#include "tools/mkinstalldat/Manifest.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace mkinstalldat {

namespace {

bool ParseId(const std::string& text, uint16_t* id) {
  if (text.empty() || text.size() > 5 ||
      !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return false;
  }
  const long value = std::strtol(text.c_str(), nullptr, 10);
  if (value > 0xFFFF) return false;
  *id = static_cast<uint16_t>(value);
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool Unescape(const std::string& text, std::vector<uint8_t>* out, std::string* error) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out->push_back(static_cast<uint8_t>(text[i]));
      continue;
    }
    if (++i == text.size()) {
      *error = "a backslash ends the line";
      return false;
    }
    switch (text[i]) {
      case 'n':
        out->push_back('\n');
        break;
      case 'r':
        out->push_back('\r');
        break;
      case 't':
        out->push_back('\t');
        break;
      case '\\':
        out->push_back('\\');
        break;
      case 'x': {
        const int high = i + 1 < text.size() ? HexDigit(text[i + 1]) : -1;
        const int low = i + 2 < text.size() ? HexDigit(text[i + 2]) : -1;
        if (high < 0 || low < 0) {
          *error = "\\x needs two hexadecimal digits";
          return false;
        }
        out->push_back(static_cast<uint8_t>(high * 16 + low));
        i += 2;
        break;
      }
      default:
        *error = std::string("unknown escape \\") + text[i];
        return false;
    }
  }
  return true;
}

bool Substitute(const std::string& text, const std::map<std::string, std::string>& variables,
                std::string* out, std::string* error) {
  out->clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text.compare(i, 2, "${") != 0) {
      out->push_back(text[i]);
      continue;
    }
    const size_t end = text.find('}', i);
    if (end == std::string::npos) {
      *error = "unclosed ${";
      return false;
    }
    const std::string name = text.substr(i + 2, end - i - 2);
    auto it = variables.find(name);
    if (it == variables.end()) {
      *error = "no value given for ${" + name + "} (use --set " + name + "=VALUE)";
      return false;
    }
    out->append(it->second);
    i = end;
  }
  return true;
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool ReadManifest(const std::string& path, const std::map<std::string, std::string>& variables,
                  std::vector<DatEntry>* entries, std::string* error) {
  std::ifstream in(path);
  if (!in) {
    *error = path + ": cannot be read";
    return false;
  }
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    const std::string where = path + ":" + std::to_string(number) + ": ";
    std::istringstream fields(line);
    std::string idText;
    std::string kind;
    fields >> idText >> kind;
    DatEntry entry;
    if (!ParseId(idText, &entry.id)) {
      *error = where + "'" + idText + "' is not an entry number (0 to 65535)";
      return false;
    }
    std::string rest;
    std::getline(fields, rest);
    if (!rest.empty() && rest[0] == ' ') rest.erase(0, 1);
    std::string problem;
    if (kind == "text") {
      if (!Unescape(rest, &entry.data, &problem)) {
        *error = where + problem;
        return false;
      }
    } else if (kind == "file") {
      std::string target;
      if (!Substitute(rest, variables, &target, &problem)) {
        *error = where + problem;
        return false;
      }
      std::filesystem::path file(target);
      if (file.is_relative()) file = folder / file;
      if (!ReadWholeFile(file.string(), &entry.data)) {
        *error = where + file.string() + " cannot be read";
        return false;
      }
    } else {
      *error = where + "the kind must be 'text' or 'file', not '" + kind + "'";
      return false;
    }
    entries->push_back(std::move(entry));
  }
  return true;
}

bool ReadFolder(const std::string& folder, std::vector<DatEntry>* entries, std::string* error) {
  std::error_code failure;
  std::vector<DatEntry> found;
  for (const auto& item : std::filesystem::directory_iterator(folder, failure)) {
    if (!item.is_regular_file()) continue;
    const std::string name = item.path().filename().string();
    DatEntry entry;
    if (!ParseId(name.substr(0, name.find('.')), &entry.id)) continue;
    if (!ReadWholeFile(item.path().string(), &entry.data)) {
      *error = item.path().string() + " cannot be read";
      return false;
    }
    found.push_back(std::move(entry));
  }
  if (failure) {
    *error = folder + ": " + failure.message();
    return false;
  }
  std::stable_sort(found.begin(), found.end(),
                   [](const DatEntry& a, const DatEntry& b) { return a.id < b.id; });
  entries->insert(entries->end(), found.begin(), found.end());
  return true;
}

}  // namespace mkinstalldat
