#include "app/InstallJob.h"

namespace app {

void CloseFloppyDevice(InstallJob& job, platform::DeviceIo& devices) {
  const platform::DeviceHandle device = job.floppyDevice.exchange(platform::kInvalidDevice);
  if (device != platform::kInvalidDevice) devices.Close(device);
}

}  // namespace app
