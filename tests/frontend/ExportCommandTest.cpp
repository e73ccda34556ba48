// installer-export on real files: the images it writes and the outputs it refuses.
#include "frontend/ExportCommand.h"

#include <gtest/gtest.h>

#include "InstallerVersion.h"
#include "datafile/DataFile.h"
#include "image/IsoImageBuilder.h"
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

TEST_F(ExportTest, MakeIsoStreamsExactlyTheBytesOfTheInMemoryBuilder) {
  // A cut root directory (60 names, 49 fit), and about 40 MB in files of awkward sizes.
  auto cut = testsupport::FloppyEntries(testsupport::FormattedBaseImage(), Pattern(10, 4),
                                        Pattern(5000, 3));
  for (uint16_t i = 0; i < 60; ++i) {
    cut.push_back({static_cast<uint16_t>(5000 + i), testsupport::Bytes("f" + std::to_string(i))});
    cut.push_back({static_cast<uint16_t>(5100 + i), Pattern(i * 700u, static_cast<uint8_t>(i))});
  }
  auto large = testsupport::FloppyEntries(testsupport::FormattedBaseImage(), {}, {});
  const std::vector<size_t> sizes = {13000001, 0, 2048, 14000000, 13500003};
  for (uint16_t i = 0; i < sizes.size(); ++i) {
    large.push_back(
        {static_cast<uint16_t>(5000 + i), testsupport::Bytes("big" + std::to_string(i))});
    large.push_back({static_cast<uint16_t>(5100 + i), Pattern(sizes[i], static_cast<uint8_t>(i))});
  }
  std::vector<std::string> cases = {WriteData(cut), dir.Path("large.dat")};
  testsupport::WriteBytes(cases[1], mkinstalldat::BuildDataFile(large));
#ifdef SAMPLE_DATA_FILE
  cases.push_back(SAMPLE_DATA_FILE);
#endif
  for (const std::string& data : cases) {
    const std::string iso = dir.Path("streamed.iso");
    ASSERT_EQ(Run({"make-iso", "--quiet", "--data", data, "--out", iso}), 0) << err;
    datafile::DataFileServices services{files.get(), &system, false};
    auto dataFile = datafile::OpenDataFile(services, data);
    image::IsoPlan plan;
    ASSERT_EQ(image::PlanIsoImage(dataFile.get(), system, &plan), image::kIsoBuilt);
    std::vector<uint8_t> inMemory(plan.ImageBytes());
    uint32_t length = 0;
    ASSERT_EQ(image::WriteIsoImage(plan, inMemory.data(), inMemory.size(), &length, dataFile.get(),
                                   system),
              image::kIsoBuilt);
    EXPECT_TRUE(testsupport::ReadBytes(iso) == inMemory) << data;
    EXPECT_FALSE(std::filesystem::exists(iso + ".partial"));
  }
}

TEST_F(ExportTest, RefusesOutputsThatAreNotRegularFilesAndCreatesNothing) {
  const std::string data =
      WriteData(testsupport::FloppyEntries(testsupport::FormattedBaseImage(), {}, {}));
  std::filesystem::create_directory(dir.Path("folder"));
  std::vector<std::string> refused = {dir.Path("folder")};
#ifdef _WIN32
  // Drives and Windows' device names, with or without a folder or an extension.
  refused.insert(refused.end(), {"\\\\.\\A:", "\\\\.\\PhysicalDrive1", "CON", "nul.iso",
                                 dir.Path("AUX"), "com1.img", "LPT9"});
#endif
  for (const std::string& target : refused) {
    for (const char* command : {"make-iso", "make-floppy-image"}) {
      EXPECT_EQ(Run({command, "--data", data, "--out", target}), 1) << target;
      EXPECT_NE(err.find("writes image files only"), std::string::npos) << err;
      EXPECT_NE(err.find("the installer, which checks the drive and locks it"), std::string::npos);
      EXPECT_EQ(out.find("Primary"), std::string::npos) << "nothing is built";
      EXPECT_FALSE(std::filesystem::exists(target + ".partial")) << target;
    }
  }
  EXPECT_TRUE(std::filesystem::is_directory(dir.Path("folder")));
}

TEST_F(ExportTest, AnOutputIsNeverPutInPlaceOfWhatAppearsUnderItsNames) {
  // A name taken by a leftover partial file: refused, and the leftover is not touched.
  const std::string taken = dir.Path("taken.iso");
  testsupport::WriteBytes(taken + ".partial", {1, 2, 3});
  std::string error;
  EXPECT_EQ(files->CreateOutput(taken, &error), nullptr);
  EXPECT_NE(error.find("already exists"), std::string::npos) << error;
  EXPECT_EQ(testsupport::ReadBytes(taken + ".partial"), std::vector<uint8_t>({1, 2, 3}));

  // A directory that appears under the target's name while the image is written.
  const std::string target = dir.Path("target.iso");
  auto output = files->CreateOutput(target, &error);
  ASSERT_NE(output, nullptr) << error;
  ASSERT_TRUE(output->Write(Pattern(4096, 1).data(), 4096, &error)) << error;
  std::filesystem::create_directory(target);
  EXPECT_FALSE(output->Commit(&error));
  EXPECT_NE(error.find("no longer a regular file"), std::string::npos) << error;
  output.reset();
  EXPECT_TRUE(std::filesystem::is_directory(target));
  EXPECT_FALSE(std::filesystem::exists(target + ".partial"));
}

}  // namespace
