// The paths that the running Windows chooses: the real version record (under Wine, the
// prefix's Version value) through the dialog's version detection. The installer GUI test
// runs it once per Windows version and names the paths it expects in
// INSTALLER_EXPECTED_PATHS: "9x", "nt4", "imapi" (2000, XP) or "imapi2" (Vista on).
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "app/InstallDialog.h"
#include "platform/Host.h"
#include "tests/fakes/FakeDialogWindow.h"
#include "tests/fakes/FakeDiscRecording.h"

namespace {

TEST(Win32VersionPathTest, TheRunningWindowsChoosesItsFloppyAndCdPaths) {
  const char* expected = std::getenv("INSTALLER_EXPECTED_PATHS");
  if (expected == nullptr) GTEST_SKIP() << "INSTALLER_EXPECTED_PATHS names no Windows version";
  job::InstallJob job;
  const std::unique_ptr<platform::System> system = platform::MakeHostSystem();
  fakes::FakeDialogWindow window;
  fakes::FakeDiscRecording recording;
  app::InstallServices services;
  services.job = &job;
  services.system = system.get();
  services.window = &window;
  services.recording = &recording;
  const app::CInstallDlg dialog(services);
  ASSERT_TRUE(dialog.started());
  const std::string paths = !job.isNtFamily             ? "9x"
                            : !job.cdRecordingSupported ? "nt4"
                            : job.useImapi2             ? "imapi2"
                                                        : "imapi";
  EXPECT_EQ(paths, expected);
}

}  // namespace
