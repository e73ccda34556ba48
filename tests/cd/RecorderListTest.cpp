// Recorder discovery against the scriptable disc-mastering service.
#include "cd/ImapiRecorderList.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/fakes/FakeDiscRecording.h"

namespace {

class RecorderListTest : public ::testing::Test {
 protected:
  int Logged(const std::string& prefix) const {
    const auto log = recording.Log();
    return static_cast<int>(std::count_if(log.begin(), log.end(), [&](const std::string& line) {
      return line.rfind(prefix, 0) == 0;
    }));
  }
  // The letters of list positions -1 to `last`, after the search found `found` recorders.
  std::vector<char> Letters(int found, int last) {
    cd::ImapiRecorderList list(recording);
    EXPECT_EQ(list.FindRecorders(), found);
    EXPECT_EQ(recording.LiveObjects(), 0);
    std::vector<char> letters;
    for (int i = -1; i <= last; ++i) letters.push_back(list.LetterAt(i));
    return letters;
  }
  fakes::FakeDiscRecording recording;
};

TEST_F(RecorderListTest, NoRecordableDriveMeansNoDiscMasterAtAll) {
  recording.hasRecordableDrive = false;
  cd::ImapiRecorderList list(recording);
  EXPECT_EQ(list.FindRecorders(), 0);
  EXPECT_EQ(Logged("CreateDiscMaster"), 0);
  EXPECT_EQ(recording.LiveObjects(), 0);
  EXPECT_EQ(recording.ComDepth(), 1) << "only the list's own initialisation remains";

  recording.failing = {"CreateShellCdBurn"};
  EXPECT_EQ(list.FindRecorders(), 0);
  recording.failing = {"Open"};
  recording.hasRecordableDrive = true;
  EXPECT_EQ(list.FindRecorders(), 0);
  EXPECT_EQ(Logged("CloseMaster"), 1) << "a disc master that failed to open is still closed";
  EXPECT_EQ(recording.LiveObjects(), 0);
}

TEST_F(RecorderListTest, RecordersTakeTheLetterWhoseTargetIsTheirDevicePath) {
  recording.recorderPaths.clear();
  for (int i = 0; i < 5; ++i)
    recording.recorderPaths.push_back("\\Device\\CdRom" + std::to_string(i));
  recording.dosDevices["C:"] = "\\Device\\HarddiskVolume1";
  recording.dosDevices["E:"] = std::string("\\Device\\CdRom0\0x", 16);
  recording.dosDevices["F:"] = "\\Device\\CdRom2";
  recording.dosDevices["G:"] = "\\Device\\CdRom2";  // a second letter for the same device
  recording.dosDevices["H:"] = "\\device\\cdrom3";  // differs only in case
  recording.dosDevices["I:"] = "\\Device\\CdRom4-with-a-long-target";  // too long for 20 bytes
  recording.dosDevices["Z:"] = "\\Device\\CdRom1";
  EXPECT_EQ(Letters(5, 5), (std::vector<char>{0, 'E', 'Z', 'F', 0, 0, 0}));
  EXPECT_EQ(Logged("CloseRecorder"), 5) << "every recorder is closed before it is released";

  // A recorder without a path is still counted, without a letter.
  recording.failing = {"GetPath"};
  EXPECT_EQ(Letters(5, 0), (std::vector<char>{0, 0}));

  // More than twenty-six recorders never overflow the letters.
  recording.Reset();
  recording.recorderPaths.clear();
  for (int i = 0; i < 30; ++i)
    recording.recorderPaths.push_back("\\Device\\CdRom" + std::to_string(i));
  recording.dosDevices["Y:"] = "\\Device\\CdRom25";
  EXPECT_EQ(Letters(26, 26).back(), 0);
  EXPECT_EQ(Letters(26, 25).back(), 'Y');
}

}  // namespace
