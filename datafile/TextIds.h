// The numbered texts of install.dat, by role. Texts that printf-style arguments fill say
// which in their comment; every other text is shown as stored.
#pragma once

#include <cstdint>

namespace datafile::text {

constexpr uint16_t kDialogTitle = 1000;
constexpr uint16_t kProgressGroupLabel = 1001;
constexpr uint16_t kStatusGroupLabel = 1002;
constexpr uint16_t kExitLabel = 1004;
constexpr uint16_t kCancelJobLabel = 1005;  ///< the Exit button while a floppy job runs
constexpr uint16_t kErrorCaption = 1006;
constexpr uint16_t kConfirmCaption = 1007;
constexpr uint16_t kCancelledCaption = 1008;
constexpr uint16_t kSuccessCaption = 1009;
constexpr uint16_t kReadyStatus = 1010;  ///< %c: the first floppy drive's letter
constexpr uint16_t kNoTargetStatus = 1013;
constexpr uint16_t kFloppyRunningStatus = 1014;
constexpr uint16_t kLeavingStatus = 1015;
constexpr uint16_t kProgressLine = 1016;  ///< %u: cylinder counted from 1, %u: total
constexpr uint16_t kNothingToInstall = 1020;
constexpr uint16_t kConfirmFloppy = 1021;
constexpr uint16_t kFloppyCancelled = 1022;
constexpr uint16_t kFloppyWritten = 1023;  ///< %s: text 1040, %c: first floppy letter
constexpr uint16_t kNoVwin32 = 1024;
constexpr uint16_t kFloppyWriteError = 1026;
constexpr uint16_t kNoBuffer9x = 1027;
constexpr uint16_t kLockRefused = 1028;
/// The confirmation before writing a CD; the data file also gives it as the NT floppy
/// writer's message when its transfer buffer cannot be had.
constexpr uint16_t kConfirmCd = 1030;
constexpr uint16_t kCannotStage = 1031;
constexpr uint16_t kCdWritten = 1032;  ///< %s: text 1040, %c: first floppy letter
constexpr uint16_t kFloppyGroupLabel = 1033;
constexpr uint16_t kCdGroupLabel = 1034;
constexpr uint16_t kCreateFloppyLabel = 1035;
constexpr uint16_t kCreateCdLabel = 1036;
constexpr uint16_t kDriveItem = 1037;  ///< %c: a drive letter
constexpr uint16_t kDiscNotWritten = 1038;
constexpr uint16_t kNoRecorder = 1039;
constexpr uint16_t kProductName = 1040;
constexpr uint16_t kNoDiscMaster = 1041;
constexpr uint16_t kFirstStageText = 1042;  ///< 1042 + stage, stages 0 to 6
constexpr uint16_t kNoFloppyItem = 1049;
constexpr uint16_t kNoRecordingItem = 1050;
constexpr uint16_t kNoRemovableItem = 1051;
constexpr uint16_t kMakeBootableLabel = 1052;

}  // namespace datafile::text
