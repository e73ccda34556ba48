// The CD job: its thread entry and the two burners. On Windows XP the install files and
// the boot image are staged for the disc-mastering service (IMAPI), which builds and
// writes the disc; from Windows Vista on, and on Linux, the whole bootable image is built
// here and written through IMAPI2's data writer. Both report their stage (0 to 6) in the
// job, show their own error messages and return whether the disc was written.
#pragma once

#include <atomic>
#include <cstdint>

#include "datafile/DataFile.h"
#include "job/InstallJob.h"
#include "platform/DialogControls.h"
#include "platform/DiscRecording.h"
#include "platform/System.h"

namespace cd {

struct CdJobServices {
  job::InstallJob* job = nullptr;
  platform::System* system = nullptr;
  platform::DiscRecording* recording = nullptr;
  platform::DialogControls* dialog = nullptr;  ///< for the burners' own, ownerless, messages
};

/// The name under which the disc writer sees this program.
constexpr char16_t kImapi2ClientName[] = u"ZidirUZUvuzuv";
/// The manufacturer text of the boot record that IMAPI writes.
constexpr char16_t kBootManufacturer[] = u"Talvo";

/// Thread entry: runs the burner that the system calls for and leaves the outcome in the
/// job (busy, jobFailed).
void CdBurnThread(const CdJobServices& services);

/// Stages the files and the boot image for IMAPI and has it write the disc.
bool BurnWithImapi(const CdJobServices& services, int32_t recorderIndex,
                   std::atomic<int32_t>* stage, datafile::DataFile* dataFile);

/// Builds the ISO image and writes it through IMAPI2.
class Imapi2Burner {
 public:
  explicit Imapi2Burner(const CdJobServices& services) : services_(services) {}
  bool Burn(int32_t recorderIndex, std::atomic<int32_t>* stage, datafile::DataFile* dataFile);

 private:
  CdJobServices services_;
};

}  // namespace cd
