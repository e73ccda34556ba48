// installer-export make-floppy-image on real files.
#include "frontend/ExportCommand.h"

#include <gtest/gtest.h>

#include "InstallerVersion.h"
#include "datafile/DataFile.h"
#include "platform/Host.h"
#include "tests/fakes/FakeFileSystem.h"
#include "tests/fakes/FakeSystem.h"
#include "tests/support/FatReader.h"
#include "tests/support/TestFiles.h"

namespace {

using testsupport::Pattern;

class ExportTest : public ::testing::Test {
 protected:
  void SetUp() override { datafile::TakeDataFileError(); }

  int Run(const std::vector<std::string>& args) {
    out.clear();
    err.clear();
    return frontend::RunExport(args, *files, system, &out, &err);
  }
  std::string WriteData(const std::vector<mkinstalldat::DatEntry>& entries,
                        const mkinstalldat::DatLayout& layout = {}) {
    const std::string path = dir.Path("install.dat");
    testsupport::WriteBytes(path, mkinstalldat::BuildDataFile(entries, layout));
    return path;
  }

  testsupport::TempDir dir;
  std::unique_ptr<platform::FileSystem> files = platform::MakeHostFileSystem();
  fakes::FakeSystem system;
  std::string out;
  std::string err;
};

TEST_F(ExportTest, WritesTheAssembledImageWithoutLookupPauses) {
  const auto readme = Pattern(777, 3);
  const std::string data = WriteData(
      testsupport::FloppyEntries(testsupport::FormattedBaseImage(), Pattern(1500, 4), readme));
  const std::string img = dir.Path("floppy.img");
  ASSERT_EQ(Run({"make-floppy-image", "--data", data, "--out", img}), 0) << err;
  const auto bytes = testsupport::ReadBytes(img);
  ASSERT_EQ(bytes.size(), 1474560u);
  testsupport::FatReader fat(bytes);
  EXPECT_EQ(fat.Contents(*fat.Find("README  TXT")), readme);
  EXPECT_TRUE(system.Pauses().empty());
  EXPECT_EQ(out, "done\n");

  ASSERT_EQ(Run({"make-floppy-image", "--quiet", "--data", data, "--out", img}), 0);
  EXPECT_EQ(out, "");
}

TEST_F(ExportTest, ExplainsEveryFailureAndExitsNonZero) {
  const std::string img = dir.Path("floppy.img");
  EXPECT_EQ(Run({"make-floppy-image", "--data", dir.Path("none.dat"), "--out", img}), 1);
  EXPECT_NE(err.find("cannot open the data file"), std::string::npos) << err;

  mkinstalldat::DatLayout badMagic;
  badMagic.magic = 1;
  EXPECT_EQ(Run({"make-floppy-image", "--data", WriteData({}, badMagic), "--out", img}), 1);
  EXPECT_NE(err.find("not an install data file"), std::string::npos) << err;

  EXPECT_EQ(Run({"make-floppy-image", "--data",
                 WriteData({{10002, testsupport::FormattedBaseImage()}}), "--out", img}),
            1);
  EXPECT_NE(err.find("status 4"), std::string::npos) << err;
  EXPECT_NE(err.find("entry 10003"), std::string::npos) << err;

  auto tooLarge =
      testsupport::FloppyEntries(testsupport::FormattedBaseImage(), Pattern(1474560, 1), {});
  EXPECT_EQ(Run({"make-floppy-image", "--data", WriteData(tooLarge), "--out", img}), 1);
  EXPECT_NE(err.find("status 3"), std::string::npos) << err;
  EXPECT_FALSE(std::filesystem::exists(img)) << "nothing is written for an incomplete image";

  const std::string good =
      WriteData(testsupport::FloppyEntries(testsupport::FormattedBaseImage(), {}, {}));
  EXPECT_EQ(Run({"make-floppy-image", "--data", good, "--out", dir.Path("no/such/folder/f.img")}),
            1);
  EXPECT_NE(err.find("cannot write"), std::string::npos) << err;

  EXPECT_EQ(Run({"make-floppy-image", "--data", good}), 2);
  EXPECT_EQ(Run({"burn-everything"}), 2);
  EXPECT_EQ(Run({}), 2);
  EXPECT_NE(err.find("usage"), std::string::npos);
}

TEST_F(ExportTest, HelpAndVersionAnswerOnStandardOutputWhereverTheyStandAndWriteNothing) {
  const std::string img = dir.Path("floppy.img");
  const std::string data =
      WriteData(testsupport::FloppyEntries(testsupport::FormattedBaseImage(), {}, {}));
  const std::string usage = "usage: installer-export make-floppy-image";
  const std::string version =
      "installer-export (" INSTALLER_PRODUCT_NAME ") " INSTALLER_VERSION "\n";
  const struct {
    std::vector<std::string> args;
    std::string printed;
  } cases[] = {
      {{"--help"}, usage},
      {{"-h", "make-iso"}, usage},
      {{"make-iso", "--quiet", "--help"}, usage},
      {{"--version"}, version},
      {{"make-floppy-image", "--data", data, "--out", img, "--version"}, version},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Run(c.args), 0) << c.args.back();
    EXPECT_EQ(out.compare(0, c.printed.size(), c.printed), 0) << out;
    EXPECT_EQ(err, "");
  }
  EXPECT_FALSE(std::filesystem::exists(img));
}

TEST_F(ExportTest, MakeIsoWritesTheWholeVolumeAndExplainsWhatItCannotBuild) {
  auto entries = testsupport::FloppyEntries(testsupport::FormattedBaseImage(), Pattern(10, 4),
                                            Pattern(5000, 3));
  entries.push_back({5000, testsupport::Bytes("readme.txt")});
  const std::string iso = dir.Path("cd.iso");
  ASSERT_EQ(Run({"make-iso", "--data", WriteData(entries), "--out", iso}), 0) << err;
  EXPECT_EQ(testsupport::ReadBytes(iso).size(), (747u + 3) * 2048);
  EXPECT_EQ(out.rfind("Primary Volume Descriptor\n", 0), 0u);
  EXPECT_TRUE(system.Pauses().empty());
  ASSERT_EQ(Run({"make-iso", "--quiet", "--data", WriteData(entries), "--out", iso}), 0);
  EXPECT_EQ(out, "");

  entries.push_back({5001, testsupport::Bytes("orphan.txt")});
  EXPECT_EQ(Run({"make-iso", "--data", WriteData(entries), "--out", dir.Path("bad.iso")}), 1);
  EXPECT_NE(err.find("'orphan.txt') has no data entry 5101"), std::string::npos) << err;
  EXPECT_FALSE(std::filesystem::exists(dir.Path("bad.iso")));

  entries.pop_back();
  entries.erase(entries.begin());  // no base floppy image
  EXPECT_EQ(Run({"make-iso", "--data", WriteData(entries), "--out", dir.Path("bad.iso")}), 1);
  EXPECT_NE(err.find("boot floppy image is incomplete (floppy status 4"), std::string::npos) << err;
}

}  // namespace
