// Everything the installer program reaches the machine through; the front end builds it
// from the real back ends, the tests from fakes.
#pragma once

#include <string>

#include "job/InstallJob.h"
#include "platform/DeviceIo.h"
#include "platform/DialogWindow.h"
#include "platform/DiscRecording.h"
#include "platform/File.h"
#include "platform/Graphics.h"
#include "platform/System.h"

namespace app {

struct InstallServices {
  job::InstallJob* job = nullptr;
  platform::System* system = nullptr;
  platform::FileSystem* files = nullptr;
  platform::Graphics* graphics = nullptr;
  platform::DeviceIo* devices = nullptr;
  platform::DiscRecording* recording = nullptr;
  platform::DialogWindow* window = nullptr;
};

/// The application object. InitInstance reads the command line, runs the main dialog and
/// returns false, so that the program ends when the dialog closes.
class CInstallApp {
 public:
  explicit CInstallApp(const InstallServices& services) : services_(services) {}
  bool InitInstance(int argc, const char* const* argv);

 private:
  InstallServices services_;
};

/// The application: reads the command line (argv[0] is the program, as main gets it),
/// runs the main dialog and returns the process's exit code, which is 0 however the
/// dialog ends.
int RunInstaller(int argc, const char* const* argv, const InstallServices& services);

/// The first parameter that does not start with '/' or '-'; "" when there is none.
std::string FirstPlainParameter(int argc, const char* const* argv);

}  // namespace app
