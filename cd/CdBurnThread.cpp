#include "cd/CdBurner.h"

namespace cd {

void CdBurnThread(const CdJobServices& services) {
  job::InstallJob& job = *services.job;
  job.busy = 1;
  const bool written =
      job.useImapi2 ? Imapi2Burner(services).Burn(job.selectedRecorder, &job.cdStage, job.dataFile)
                    : BurnWithImapi(services, job.selectedRecorder, &job.cdStage, job.dataFile);
  job.jobFailed = written ? 0 : 1;
  job.busy = 0;
}

}  // namespace cd
