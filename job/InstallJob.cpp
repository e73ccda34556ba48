#include "job/InstallJob.h"

namespace job {

void CloseFloppyDevice(InstallJob& job, platform::DeviceIo& devices) {
  const platform::DeviceHandle device = job.floppyDevice.exchange(platform::kInvalidDevice);
  if (device != platform::kInvalidDevice) devices.Close(device);
}

}  // namespace job
