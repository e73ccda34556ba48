// mkinstalldat: packs manifests and numbered folders into an install.dat.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <string>

#include "InstallerVersion.h"
#include "tools/mkinstalldat/DatWriter.h"
#include "tools/mkinstalldat/Manifest.h"

namespace {

const char kUsage[] =
    "usage: mkinstalldat --out FILE [--manifest FILE]... [--dir FOLDER]... [--set NAME=VALUE]...\n"
    "                    [--allow-duplicates]\n"
    "       mkinstalldat --help | --version\n"
    "  malformed output, for tests:\n"
    "    [--magic HEX] [--format-version N] [--entry-count N] [--directory-offset N]\n"
    "    [--entry-offset ID=N] [--entry-size ID=N] [--truncate BYTES]\n";

bool ParseNumber(const char* text, unsigned long long limit, unsigned long long* value,
                 int base = 0) {
  char* end = nullptr;
  errno = 0;
  const unsigned long long parsed = std::strtoull(text, &end, base);
  if (errno != 0 || end == text || *end != '\0' || parsed > limit || text[0] == '-') return false;
  *value = parsed;
  return true;
}

bool ParseIdValue(const char* text, uint16_t* id, uint32_t* value) {
  const char* equals = std::strchr(text, '=');
  if (equals == nullptr) return false;
  unsigned long long parsedId = 0;
  unsigned long long parsedValue = 0;
  if (!ParseNumber(std::string(text, equals).c_str(), 0xFFFF, &parsedId, 10) ||
      !ParseNumber(equals + 1, 0xFFFFFFFFull, &parsedValue)) {
    return false;
  }
  *id = static_cast<uint16_t>(parsedId);
  *value = static_cast<uint32_t>(parsedValue);
  return true;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "mkinstalldat: %s\n", message.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string out;
  std::vector<std::pair<bool, std::string>> sources;  // (is manifest, path)
  std::map<std::string, std::string> variables;
  mkinstalldat::DatLayout layout;
  bool allowDuplicates = false;
  for (int i = 1; i < argc; ++i) {
    const std::string flag = argv[i];
    if (flag == "--allow-duplicates") {
      allowDuplicates = true;
      continue;
    }
    if (flag == "--help" || flag == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (flag == "--version") {
      std::printf("mkinstalldat (%s) %s\n", INSTALLER_PRODUCT_NAME, INSTALLER_VERSION);
      return 0;
    }
    if (i + 1 >= argc) return Fail(flag + " needs a value\n" + kUsage);
    const char* value = argv[++i];
    unsigned long long number = 0;
    uint16_t id = 0;
    uint32_t idValue = 0;
    if (flag == "--out") {
      out = value;
    } else if (flag == "--manifest") {
      sources.emplace_back(true, value);
    } else if (flag == "--dir") {
      sources.emplace_back(false, value);
    } else if (flag == "--set") {
      const char* equals = std::strchr(value, '=');
      if (equals == nullptr) return Fail("--set needs NAME=VALUE");
      variables[std::string(value, equals)] = equals + 1;
    } else if (flag == "--magic" && ParseNumber(value, 0xFFFFFFFFull, &number, 16)) {
      layout.magic = static_cast<uint32_t>(number);
    } else if (flag == "--format-version" && ParseNumber(value, 0xFFFF, &number)) {
      layout.version = static_cast<uint16_t>(number);
    } else if (flag == "--entry-count" && ParseNumber(value, 0xFFFF, &number)) {
      layout.entryCount = static_cast<uint16_t>(number);
    } else if (flag == "--directory-offset" && ParseNumber(value, 0xFFFFFFFFull, &number)) {
      layout.directoryOffset = static_cast<uint32_t>(number);
    } else if (flag == "--truncate" && ParseNumber(value, ~0ull, &number)) {
      layout.truncateTo = static_cast<size_t>(number);
    } else if (flag == "--entry-offset" && ParseIdValue(value, &id, &idValue)) {
      layout.dataOffset[id] = idValue;
    } else if (flag == "--entry-size" && ParseIdValue(value, &id, &idValue)) {
      layout.dataSize[id] = idValue;
    } else {
      return Fail("cannot understand " + flag + " " + value + "\n" + kUsage);
    }
  }
  if (out.empty()) return Fail(std::string("--out is required\n") + kUsage);

  std::vector<mkinstalldat::DatEntry> entries;
  for (const auto& [isManifest, path] : sources) {
    std::string error;
    const bool ok = isManifest ? mkinstalldat::ReadManifest(path, variables, &entries, &error)
                               : mkinstalldat::ReadFolder(path, &entries, &error);
    if (!ok) return Fail(error);
  }
  if (entries.size() > 0xFFFF) return Fail("more than 65535 entries");
  if (!allowDuplicates) {
    std::set<uint16_t> seen;
    for (const auto& entry : entries) {
      if (!seen.insert(entry.id).second) {
        return Fail("entry " + std::to_string(entry.id) +
                    " is given twice (the installer only ever reads the first); "
                    "use --allow-duplicates to write it anyway");
      }
    }
  }
  const std::vector<uint8_t> file = mkinstalldat::BuildDataFile(entries, layout);
  std::ofstream stream(out, std::ios::binary | std::ios::trunc);
  stream.write(reinterpret_cast<const char*>(file.data()),
               static_cast<std::streamsize>(file.size()));
  stream.close();
  if (!stream) return Fail(out + ": cannot be written");
  return 0;
}
