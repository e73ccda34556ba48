// The Windows installer program: the real back ends and the main dialog, handed to the
// application.
#include "platform/win32/Win32Dialog.h"

#include <cstdlib>
#include <memory>

#include "app/InstallServices.h"
#include "platform/DiscRecording.h"
#include "platform/Host.h"

namespace {

// The one job record of the process; the writer threads and monitors share it.
job::InstallJob installJob;

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  const std::unique_ptr<platform::System> system = platform::MakeHostSystem();
  const std::unique_ptr<platform::FileSystem> files = platform::MakeHostFileSystem();
  const std::unique_ptr<platform::Graphics> graphics = platform::MakeHostGraphics();
  const std::unique_ptr<platform::DeviceIo> devices = platform::MakeHostDeviceIo();
  const std::unique_ptr<platform::DiscRecording> recording = platform::MakeHostDiscRecording();
  const std::unique_ptr<platform::DialogWindow> window = platform::MakeWin32Dialog(instance);

  app::InstallServices services;
  services.job = &installJob;
  services.system = system.get();
  services.files = files.get();
  services.graphics = graphics.get();
  services.devices = devices.get();
  services.recording = recording.get();
  services.window = window.get();
  // The run-time's split command line, the program's own name first. The application
  // returns only once no job thread runs (it ends the process otherwise), so the objects
  // above are never freed under a thread that uses them.
  return app::RunInstaller(__argc, __argv, services);
}
