// installer-export on real files: the images it writes and the outputs it refuses.
#include <gtest/gtest.h>
#include "InstallerVersion.h"
#include "datafile/DataFile.h"
#include "frontend/ExportCommand.h"
#include "image/IsoImageBuilder.h"
#include "platform/Host.h"
#include "platform/SourceDateEpoch.h"
#include "tests/fakes/FakeSystem.h"
#include "tests/support/TestFiles.h"

namespace {

using mkinstalldat::DatEntry;
using testsupport::CdEntries;
using testsupport::Pattern;
namespace fs = std::filesystem;

class ExportTest : public ::testing::Test {
 protected:
  void SetUp() override { datafile::TakeDataFileError(); }
  int Run(const std::vector<std::string>& args) {
    return out.clear(), err.clear(), frontend::RunExport(args, *files, system, &out, &err);
  }
  std::string Data(const std::vector<DatEntry>& entries,
                   const mkinstalldat::DatLayout& layout = {}) {
    const std::string path = dir.Path(std::to_string(++dataFiles) + ".dat");
    testsupport::WriteBytes(path, mkinstalldat::BuildDataFile(entries, layout));
    return path;
  }
  testsupport::TempDir dir;
  int dataFiles = 0;
  std::unique_ptr<platform::FileSystem> files = platform::MakeHostFileSystem();
  fakes::FakeSystem system;
  std::string out, err;
};

TEST_F(ExportTest, AnswersEachCommandLineWithItsExitCodeAndMessage) {
  const std::string img = dir.Path("out.img"), good = Data(CdEntries({"a0"}, {5}));
  const auto make = [&](const char* command, const std::string& data) {
    return std::vector<std::string>{command, "--data", data, "--out", img};
  };
  mkinstalldat::DatLayout badMagic;
  badMagic.magic = 1;
  auto orphan = CdEntries({"a0"}, {5}), noBase = orphan, tooLarge = orphan;
  orphan.push_back({5001, testsupport::Bytes("orphan.txt")});
  noBase.erase(noBase.begin());
  tooLarge[1].data = Pattern(1474560, 1);
  const std::string usage = "usage: installer-export make-floppy-image",
                    version =
                        "installer-export (" INSTALLER_PRODUCT_NAME ") " INSTALLER_VERSION "\n";
  // Exit code; how standard output starts (exit code 0) or what standard error holds.
  const std::tuple<int, std::string, std::vector<std::string>> cases[] = {
      {1, "cannot open the data file", make("make-floppy-image", dir.Path("none.dat"))},
      {1, "not an install data file", make("make-floppy-image", Data({}, badMagic))},
      {1, "(status 4): entry 10003", make("make-floppy-image", Data({orphan[0]}))},  // base only
      {1, "(status 3)", make("make-floppy-image", Data(tooLarge))},
      {1, "cannot write", {"make-floppy-image", "--data", good, "--out", dir.Path("no/f.img")}},
      {1, "'orphan.txt') has no data entry 5101", make("make-iso", Data(orphan))},
      {1, "boot floppy image is incomplete (floppy status 4", make("make-iso", Data(noBase))},
      {2, "--data and --out are both required\nusage", {"make-floppy-image", "--data", good}},
      {2, "unknown command 'burn-everything'\nusage", {"burn-everything"}},
      {2, "no command given\nusage", {}},
      {0, usage, {"-h", "make-iso"}},
      {0, usage, {"make-iso", "--quiet", "--help"}},
      {0, version, {"make-floppy-image", "--data", good, "--out", img, "--version"}}};
  for (const auto& [exitCode, text, args] : cases) {
    EXPECT_EQ(Run(args), exitCode) << ::testing::PrintToString(args);
    EXPECT_TRUE(exitCode == 0 ? out.rfind(text, 0) == 0 && err.empty()
                              : err.find(text) != std::string::npos)
        << out << err;
    EXPECT_FALSE(fs::exists(img) || fs::exists(img + ".partial")) << "nothing is written";
  }
}

// The streamed ISO over an earlier one is the in-memory builder's (the rest: realtools/).
TEST_F(ExportTest, TheIsoIsExactlyTheInMemoryBuildersBytes) {
  const std::string small = Data(CdEntries({"f0", "f1"}, {700, 1400})),
                    big = Data(CdEntries({"big0", "big1", "big2", "big3", "big4"},
                                         {0, 13000001, 2048, 14000000, 13500003}));
  const std::string target = dir.Path("image");
  for (const std::string& data : {small, big}) {
    ASSERT_EQ(Run({"make-iso", "--quiet", "--data", data, "--out", target}), 0) << err;
    EXPECT_FALSE(fs::exists(target + ".partial"));
    const std::vector<uint8_t> written = testsupport::ReadBytes(target);
    std::vector<uint8_t> inMemory(written.size() + 2048);
    uint32_t length = 0;
    auto dataFile = datafile::OpenDataFile({files.get(), &system, false}, data);
    EXPECT_EQ(
        image::BuildIsoImage(inMemory.data(), inMemory.size(), &length, dataFile.get(), system),
        image::kIsoBuilt);
    inMemory.resize(length);
    EXPECT_TRUE(written == inMemory) << data;
  }
  EXPECT_TRUE(system.Pauses().empty()) << "no lookup pauses";
}

// Windows' device names; a folder taking the target's name in mid-write (the rest: realtools/).
TEST_F(ExportTest, AnOutputReplacesOnlyARegularFileOrAFreeName) {
#ifdef _WIN32
  const std::string data = Data(CdEntries({"a0"}, {5}));
  const std::string names[] = {
      "\\\\.\\A:", "\\\\.\\PhysicalDrive1", "CON", "nul.iso", dir.Path("AUX"), "com1.img", "LPT9"};
  for (const std::string& target : names) {
    for (const char* command : {"make-iso", "make-floppy-image"}) {
      EXPECT_EQ(Run({command, "--data", data, "--out", target}), 1) << target;
      EXPECT_NE(err.find("writes image files only"), std::string::npos) << err;
      EXPECT_FALSE(fs::exists(target + ".partial")) << target;
    }
  }
#endif
  const std::string target = dir.Path("target.iso");
  std::string error;
  auto output = files->CreateOutput(target, &error);
  ASSERT_NE(output, nullptr) << error;
  ASSERT_TRUE(output->Write(Pattern(4096, 1).data(), 4096, &error)) << error;
  fs::create_directory(target);
  EXPECT_FALSE(output->Commit(&error));
  EXPECT_NE(error.find("no longer a regular file"), std::string::npos) << error;
  output.reset();
  EXPECT_TRUE(fs::is_directory(target));
  EXPECT_FALSE(fs::exists(target + ".partial"));
}

// Plain decimal seconds only; 2000-02-29 is a leap day in a century leap year.
TEST(SourceDateEpoch, PlainDecimalSecondsBecomeTheUtcCalendarMoment) {
  int64_t seconds = -1;
  for (const char* bad : {"", "-5", "12a", " 1", "1e9", "999999999999"})
    EXPECT_FALSE(platform::ParseSourceDateEpoch(bad, &seconds)) << bad;
  for (const auto& [text, moment] : std::vector<std::pair<const char*, std::vector<int>>>{
           {"0", {1970, 1, 1, 0, 0, 0}},
           {"951868798", {2000, 2, 29, 23, 59, 58}},
           {"1796589348", {2026, 12, 6, 20, 35, 48}}}) {
    ASSERT_TRUE(platform::ParseSourceDateEpoch(text, &seconds)) << text;
    EXPECT_EQ(std::to_string(seconds), text);
    const platform::UtcTime t = platform::UtcFromEpochSeconds(seconds);
    EXPECT_EQ((std::vector<int>{t.year, t.month, t.day, t.hour, t.minute, t.second}), moment);
  }
}
}  // namespace
