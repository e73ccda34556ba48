// Entry point of the Linux installer: the main dialog in the terminal, floppy drives mapped
// to devices or image files, and libburn recorders.
//
// usage: installer [nocd] [--drive A=PATH] [--drive B=PATH]
//                  [--recorder stdio:PATH | --recorder DEVICE] [--batch create-floppy|create-cd]
//        installer --help | --version
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "InstallerVersion.h"
#include "app/InstallServices.h"
#include "frontend/linux/TerminalDialog.h"
#include "job/InstallJob.h"
#include "platform/Host.h"
#include "platform/linux/LinuxDeviceIo.h"
#include "platform/linux/LinuxDiscRecording.h"

namespace {

constexpr char kUsage[] =
    "usage: installer [nocd] [--drive A=PATH] [--drive B=PATH]\n"
    "                 [--recorder stdio:PATH | --recorder DEVICE]\n"
    "                 [--batch create-floppy|create-cd]\n"
    "       installer --help | --version\n"
    "  nocd        leave the CD recorders out\n"
    "  --drive     floppy drive A: or B: writes to PATH (a block device or a 1,474,560-byte\n"
    "              image file); without it A: is /dev/fd0 and B: is /dev/fd1\n"
    "  --recorder  a libburn drive address to burn CDs to; without it the optical drives\n"
    "              are scanned\n"
    "  --batch     press Create Floppy or Create CD-ROM, answer OK to every question, wait\n"
    "              for the job and exit 0 only when it succeeded\n";

/// What the command line asks for besides running the installer.
enum class Request { kRun, kHelp, kVersion };

struct Options {
  Request request = Request::kRun;
  std::vector<std::string> plain;  ///< what the installer itself reads
  std::vector<std::pair<char, std::string>> drives;
  std::vector<std::string> recorders;
  bool batch = false;
  frontend::BatchCommand command = frontend::BatchCommand::kCreateFloppy;
};

bool ParseOptions(int argc, char** argv, Options* options, std::string* error) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool takesValue = arg == "--drive" || arg == "--recorder" || arg == "--batch";
    if (takesValue && i + 1 >= argc) {
      *error = arg + " needs a value";
      return false;
    }
    if (arg == "--drive") {
      const std::string value = argv[++i];
      const char letter = value.empty() ? '\0' : value[0];
      if (value.size() < 3 || value[1] != '=' ||
          (letter != 'A' && letter != 'a' && letter != 'B' && letter != 'b')) {
        *error = "--drive takes A=PATH or B=PATH, not '" + value + "'";
        return false;
      }
      options->drives.emplace_back(letter, value.substr(2));
    } else if (arg == "--recorder") {
      const std::string value = argv[++i];
      if (value.empty()) {
        *error = "--recorder needs an address";
        return false;
      }
      options->recorders.push_back(value);
    } else if (arg == "--batch") {
      const std::string value = argv[++i];
      if (options->batch) {
        *error = "--batch may be given once";
        return false;
      }
      if (value == "create-floppy") {
        options->command = frontend::BatchCommand::kCreateFloppy;
      } else if (value == "create-cd") {
        options->command = frontend::BatchCommand::kCreateCd;
      } else {
        *error = "--batch takes create-floppy or create-cd, not '" + value + "'";
        return false;
      }
      options->batch = true;
    } else if (arg == "--help" || arg == "-h") {
      options->request = Request::kHelp;
      return true;
    } else if (arg == "--version") {
      options->request = Request::kVersion;
      return true;
    } else if (arg == "nocd") {
      options->plain.push_back(arg);
    } else {
      *error = "unknown option '" + arg + "'";
      return false;
    }
  }
  return true;
}

// The host's System, counting the threads started through it that are still running, so
// that batch mode knows when the writer and its monitor have both ended.
class CountingSystem : public platform::System, public frontend::ThreadCounter {
 public:
  CountingSystem(std::unique_ptr<platform::System> inner, bool traceShown)
      : inner_(std::move(inner)), traceShown_(traceShown) {}

  /// Called with the exit code just before the process ends early; returns the code to end
  /// with.
  void SetBeforeExit(std::function<uint32_t(uint32_t)> beforeExit) {
    beforeExit_ = std::move(beforeExit);
  }

  int Started() const override { return started_; }
  int Running() const override { return running_; }

  bool GetVersion(platform::VersionInfo* version) override { return inner_->GetVersion(version); }
  uint32_t DriveType(const std::string& rootPath) override { return inner_->DriveType(rootPath); }
  void Pause(uint32_t milliseconds) override { inner_->Pause(milliseconds); }
  platform::UtcTime UtcNow() override { return inner_->UtcNow(); }
  bool AllowAllocation(size_t bytes) override { return inner_->AllowAllocation(bytes); }
  /// Interactively the screen belongs to the dialog, so trace lines are dropped, as a
  /// Windows program without a console drops them; batch mode prints them.
  void Trace(const std::string& text) override {
    if (traceShown_) inner_->Trace(text);
  }
  void* AllocatePages(size_t bytes) override { return inner_->AllocatePages(bytes); }
  void FreePages(void* pages) override { inner_->FreePages(pages); }
  void SetCurrentThreadPriority(int priority) override {
    inner_->SetCurrentThreadPriority(priority);
  }

  bool StartThread(std::function<void()> body) override {
    ++running_;
    ++started_;
    const bool started = inner_->StartThread([this, body = std::move(body)]() mutable {
      body();
      // The body's captures go before the count does: once it reads zero, nothing of this
      // thread touches the program's objects any more.
      body = nullptr;
      --running_;
    });
    if (!started) {
      --running_;
      --started_;
    }
    return started;
  }

  void ExitProcess(uint32_t code) override {
    if (beforeExit_) code = beforeExit_(code);
    inner_->ExitProcess(code);
  }

 private:
  std::unique_ptr<platform::System> inner_;
  const bool traceShown_;
  std::function<uint32_t(uint32_t)> beforeExit_;
  std::atomic<int> started_{0};
  std::atomic<int> running_{0};
};

// Batch mode succeeds only when the button started a job that then neither failed nor was
// cancelled.
uint32_t BatchExitCode(const job::InstallJob& job, const frontend::TerminalDialog& window) {
  return window.JobStarted() && job.jobFailed == 0 && job.abortRequested == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  std::string error;
  if (!ParseOptions(argc, argv, &options, &error)) {
    std::fprintf(stderr, "installer: %s\n%s", error.c_str(), kUsage);
    return 2;
  }
  if (options.request == Request::kHelp) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (options.request == Request::kVersion) {
    std::printf("installer (%s) %s\n", INSTALLER_PRODUCT_NAME, INSTALLER_VERSION);
    return 0;
  }

  job::InstallJob job;
  CountingSystem system(platform::MakeHostSystem(), options.batch);
  std::unique_ptr<platform::FileSystem> files = platform::MakeHostFileSystem();
  std::unique_ptr<platform::Graphics> graphics = platform::MakeHostGraphics();
  platform::LinuxDeviceIo devices;
  for (const auto& [letter, path] : options.drives) devices.MapDrive(letter, path);
  platform::LinuxDiscRecording recording;
  for (const std::string& address : options.recorders) recording.AddRecorder(address);
  if (options.recorders.empty()) recording.ScanDrives();

  std::unique_ptr<frontend::TerminalDialog> window =
      options.batch
          ? std::make_unique<frontend::TerminalDialog>(options.command, system, stdout, stderr)
          : std::make_unique<frontend::TerminalDialog>(STDIN_FILENO, stdout);
  const bool batch = options.batch;
  system.SetBeforeExit([&](uint32_t code) {
    window->RestoreTerminal();
    return batch ? BatchExitCode(job, *window) : code;
  });

  app::InstallServices services;
  services.job = &job;
  services.system = &system;
  services.files = files.get();
  services.graphics = graphics.get();
  services.devices = &devices;
  services.recording = &recording;
  services.window = window.get();

  // The installer sees its name and its own parameters only; option values never reach it.
  std::vector<const char*> parameters = {argv[0]};
  for (const std::string& parameter : options.plain) parameters.push_back(parameter.c_str());
  const int result =
      app::RunInstaller(static_cast<int>(parameters.size()), parameters.data(), services);
  window->RestoreTerminal();
  const int code = batch ? static_cast<int>(BatchExitCode(job, *window)) : result;
  // Threads still running when the dialog has ended go with the process, as on Windows,
  // before the objects they use are destroyed.
  if (system.Running() > 0) system.ExitProcess(static_cast<uint32_t>(code));
  return code;
}
