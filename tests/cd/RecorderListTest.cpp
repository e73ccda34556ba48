// Recorder discovery against the scriptable disc-mastering service.
#include "cd/ImapiRecorderList.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/fakes/FakeDiscRecording.h"

namespace {

class RecorderListTest : public ::testing::Test {
 protected:
  bool Logged(const std::string& line) const {
    const auto log = recording.Log();
    return std::find(log.begin(), log.end(), line) != log.end();
  }
  fakes::FakeDiscRecording recording;
};

TEST_F(RecorderListTest, NoRecordableDriveMeansNoDiscMasterAtAll) {
  recording.hasRecordableDrive = false;
  cd::ImapiRecorderList list(recording);
  EXPECT_EQ(list.FindRecorders(), 0);
  EXPECT_FALSE(Logged("CreateDiscMaster"));
  EXPECT_EQ(recording.LiveObjects(), 0);
  EXPECT_EQ(recording.ComDepth(), 1) << "only the list's own initialisation remains";

  recording.failing = {"CreateShellCdBurn"};
  EXPECT_EQ(list.FindRecorders(), 0);
  recording.failing = {"Open"};
  recording.hasRecordableDrive = true;
  EXPECT_EQ(list.FindRecorders(), 0);
  EXPECT_TRUE(Logged("CloseMaster")) << "a disc master that failed to open is still closed";
  EXPECT_EQ(recording.LiveObjects(), 0);
}

TEST_F(RecorderListTest, RecordersTakeTheLetterWhoseTargetIsTheirDevicePath) {
  recording.recorderPaths = {"\\Device\\CdRom0", "\\Device\\CdRom1", "\\Device\\CdRom2",
                             "\\Device\\CdRom3", "\\Device\\CdRom4"};
  recording.dosDevices["C:"] = "\\Device\\HarddiskVolume1";
  recording.dosDevices["E:"] = std::string("\\Device\\CdRom0\0x", 16);
  recording.dosDevices["F:"] = "\\Device\\CdRom2";
  recording.dosDevices["G:"] = "\\Device\\CdRom2";  // a second letter for the same device
  recording.dosDevices["H:"] = "\\device\\cdrom3";  // differs only in case
  recording.dosDevices["I:"] = "\\Device\\CdRom4-with-a-long-target";  // too long for 20 bytes
  recording.dosDevices["Z:"] = "\\Device\\CdRom1";
  cd::ImapiRecorderList list(recording);
  EXPECT_EQ(list.FindRecorders(), 5);
  EXPECT_EQ(list.LetterAt(0), 'E');
  EXPECT_EQ(list.LetterAt(1), 'Z');
  EXPECT_EQ(list.LetterAt(2), 'F');
  EXPECT_EQ(list.LetterAt(3), 0);
  EXPECT_EQ(list.LetterAt(4), 0);
  EXPECT_EQ(list.LetterAt(5), 0);
  EXPECT_EQ(list.LetterAt(-1), 0);
  EXPECT_EQ(recording.LiveObjects(), 0);
  const auto log = recording.Log();
  EXPECT_EQ(
      std::count_if(log.begin(), log.end(),
                    [](const std::string& line) { return line.rfind("CloseRecorder", 0) == 0; }),
      5)
      << "every recorder is closed before it is released";
}

TEST_F(RecorderListTest, ARecorderWithoutPathOrLetterIsStillCounted) {
  recording.recorderPaths = {"\\Device\\CdRom0"};
  recording.failing = {"GetPath"};
  cd::ImapiRecorderList list(recording);
  EXPECT_EQ(list.FindRecorders(), 1);
  EXPECT_EQ(list.LetterAt(0), 0);
}

TEST_F(RecorderListTest, MoreThanTwentySixRecordersNeverOverflowTheLetters) {
  recording.recorderPaths.clear();
  for (int i = 0; i < 30; ++i)
    recording.recorderPaths.push_back("\\Device\\CdRom" + std::to_string(i));
  recording.dosDevices["Y:"] = "\\Device\\CdRom25";
  cd::ImapiRecorderList list(recording);
  EXPECT_EQ(list.FindRecorders(), 26);
  EXPECT_EQ(list.LetterAt(25), 'Y');
  EXPECT_EQ(list.LetterAt(26), 0);
  EXPECT_EQ(recording.LiveObjects(), 0);
}

}  // namespace
