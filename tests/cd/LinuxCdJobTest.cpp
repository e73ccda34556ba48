// The CD job end to end on Linux: recorder discovery and the burn go through libburn to
// a "stdio:" file target, which must hold exactly the CD image and boot in QEMU.
#include <gtest/gtest.h>

#include <cstdlib>

#include "cd/CdBurner.h"
#include "cd/ImapiRecorderList.h"
#include "image/IsoImageBuilder.h"
#include "platform/linux/LinuxDiscRecording.h"
#include "tests/support/JobFixture.h"
#include "tests/support/TestFiles.h"

namespace {

class LinuxCdJobTest : public testsupport::JobFixture {
 protected:
  void SetUp() override {
    JobFixture::SetUp();
    files.Add("install.dat", testsupport::ReadBytes(SAMPLE_DATA_FILE));
    datafile::DataFileServices services;
    services.files = &files;
    services.system = &system;
    dataFile = datafile::OpenDataFile(services, "install.dat");
    ASSERT_NE(dataFile, nullptr);
    job.dataFile = dataFile.get();
  }

  testsupport::TempDir dir;
  // Longer than a DOS device target may be: the recorder is still found under a letter.
  std::string target = dir.Path("a-file-target-with-a-rather-long-name.iso");
  platform::LinuxDiscRecording recording;
};

TEST_F(LinuxCdJobTest, AFileTargetIsListedUnderItsDriveLetter) {
  recording.AddRecorder("stdio:" + target);
  cd::ImapiRecorderList list(recording);
  ASSERT_EQ(list.FindRecorders(), 1);
  EXPECT_EQ(list.LetterAt(0), 'E');
}

TEST_F(LinuxCdJobTest, TheSampleBurnsToAFileThatHoldsTheImageAndBoots) {
  recording.AddRecorder("stdio:" + target);
  job.useImapi2 = 1;
  job.selectedRecorder = 0;
  cd::CdJobServices services;
  services.job = &job;
  services.system = &system;
  services.recording = &recording;
  services.dialog = &dialog;
  cd::CdBurnThread(services);
  ASSERT_EQ(job.jobFailed, 0) << ::testing::PrintToString(dialog.Log());
  EXPECT_EQ(job.cdStage, 6);

  std::vector<uint8_t> expected(image::kDefaultIsoBufferBytes);
  uint32_t length = 0;
  ASSERT_EQ(image::BuildIsoImage(expected.data(), expected.size(), &length, dataFile.get(), system),
            image::kIsoBuilt);
  expected.resize(length);
  EXPECT_EQ(testsupport::ReadBytes(target), expected) << "the target holds exactly the image";

  if (std::system("command -v qemu-system-i386 >/dev/null 2>&1") != 0) GTEST_SKIP() << "no QEMU";
  datafile::EntryLocation readme;
  ASSERT_TRUE(datafile::LocateEntryAndTakeError(dataFile.get(), 5100, &readme));
  std::string line(readme.size, '\0');
  ASSERT_TRUE(datafile::ReadExactlyAt(dataFile.get(), readme.offset, line.data(), readme.size));
  line = line.substr(0, line.find_first_of("\r\n"));
  const std::string log = dir.Path("serial.log");
  const std::string script = dir.Path("boot.sh");
  testsupport::WriteBytes(
      script,
      testsupport::Bytes(
          "qemu-system-i386 -accel tcg -cdrom \"$1\" -boot d -display none -serial file:\"$2\" "
          "-no-reboot >/dev/null 2>&1 & pid=$!\n"
          "for i in $(seq 80); do grep -qF \"$3\" \"$2\" 2>/dev/null && break; sleep 0.25; done\n"
          "kill $pid 2>/dev/null; wait $pid 2>/dev/null\n"
          "grep -qF \"$3\" \"$2\"\n"));
  EXPECT_EQ(
      std::system(("bash '" + script + "' '" + target + "' '" + log + "' '" + line + "'").c_str()),
      0)
      << "the README line on COM1";
}

}  // namespace
