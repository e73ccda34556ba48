// The CD recorders that the dialog offers: for each recorder that the disc-mastering
// service enumerates, in its order, the drive letter under which the recorder is
// mounted. The burner later takes the recorder with the same index.
#pragma once

#include <cstdint>
#include <string>

#include "platform/DiscRecording.h"

namespace cd {

constexpr int kRecorderSlots = 26;

class ImapiRecorderList {
 public:
  /// Initialises COM for the constructing thread.
  explicit ImapiRecorderList(platform::DiscRecording& recording);

  /// Finds the recorders and their letters; the number found, at most 26 (a machine with
  /// more recorders offers the first 26, so the list and the burner's index agree).
  int32_t FindRecorders();
  /// The letter of recorder `index` (0 when it has none), or 0 outside 0 to count - 1.
  char LetterAt(int32_t index) const;
  int32_t count() const { return count_; }

 private:
  platform::DiscRecording& recording_;
  char letters_[kRecorderSlots] = {};
  int32_t count_ = 0;
};

/// The letter, C to Z, whose DOS device target is `devicePath` exactly (case-sensitive);
/// 0 when none is.
char DriveLetterOfDevice(platform::DiscRecording& recording, const std::string& devicePath);

}  // namespace cd
