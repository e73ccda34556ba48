// CInstallApp: reads the command line, runs the main dialog, and ends the program.
#include <string>

#include "app/InstallDialog.h"
#include "app/InstallServices.h"

namespace app {

std::string FirstPlainParameter(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string parameter = argv[i] != nullptr ? argv[i] : "";
    if (parameter.empty() || (parameter[0] != '/' && parameter[0] != '-')) return parameter;
  }
  return std::string();
}

bool CInstallApp::InitInstance(int argc, const char* const* argv) {
  CInstallDlg dialog(services_);
  if (!dialog.started()) return false;
  // Exactly "nocd": the word in capitals, behind a switch sign or with more after it
  // does not count.
  if (FirstPlainParameter(argc, argv) == "nocd") dialog.SetRecorderCount(-1);
  dialog.DoModal();
  // A dialog ended by Enter, Escape or Exit while a job's threads still run (a job in
  // progress, a monitor still putting the dialog back, a writer not yet at its first
  // step) ends the program and the job with it, before anything those threads use goes.
  if (services_.job->busy || dialog.RunningJobThreads() > 0) services_.system->ExitProcess(0);
  return false;
}

int RunInstaller(int argc, const char* const* argv, const InstallServices& services) {
  CInstallApp application(services);
  application.InitInstance(argc, argv);
  return 0;
}

}  // namespace app
