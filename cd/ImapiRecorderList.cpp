#include "cd/ImapiRecorderList.h"

#include <cstring>

#include "cd/ImapiHolders.h"

namespace cd {

namespace {
constexpr uint32_t kDosTargetBytes = 20;
}  // namespace

ImapiRecorderList::ImapiRecorderList(platform::DiscRecording& recording) : recording_(recording) {
  recording_.CoInitialize();
}

int32_t ImapiRecorderList::FindRecorders() {
  recording_.CoInitialize();
  int32_t found = 0;
  {
    ShellBurner shell(recording_);
    if (shell.HasRecordableDrive()) {
      DiscMaster master(recording_);
      if (master.Open()) {
        DiscRecorder recorder;
        RecorderEnumerator recorders(master);
        std::memset(letters_, 0, sizeof letters_);
        while (found < kRecorderSlots && recorders.Next(recorder)) {
          letters_[found++] = DriveLetterOfDevice(recording_, recorder.GetPath());
        }
        count_ = found;
      }
    }
  }  // every object is released here, before COM is left
  recording_.CoUninitialize();
  return found;
}

char ImapiRecorderList::LetterAt(int32_t index) const {
  return index >= 0 && index < count_ ? letters_[index] : 0;
}

char DriveLetterOfDevice(platform::DiscRecording& recording, const std::string& devicePath) {
  for (char letter = 'C'; letter <= 'Z'; ++letter) {
    char target[kDosTargetBytes] = {};
    const uint32_t stored =
        recording.QueryDosDevice(std::string(1, letter) + ":", target, kDosTargetBytes);
    // The first of the zero-terminated targets, never read past the buffer.
    if (stored > 0 && devicePath == std::string(target, strnlen(target, kDosTargetBytes))) {
      return letter;
    }
  }
  return 0;
}

}  // namespace cd
