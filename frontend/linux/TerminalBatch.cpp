// The terminal dialog in batch mode: it presses one button, answers OK to every question,
// prints the status lines and messages one per line, and waits until the job's threads end.
#include <chrono>
#include <thread>

#include "frontend/linux/TerminalDialog.h"
#include "frontend/linux/TerminalKeys.h"

namespace frontend {

using terminal::OneLine;

int TerminalDialog::RunBatch(platform::DialogEvents& events) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    running_ = true;
    ended_ = false;
  }
  events.OnInitDialog();
  events.OnShowWindow(true);

  const int button =
      command_ == BatchCommand::kCreateFloppy ? kCreateFloppyButton : kCreateCdButton;
  const std::string name =
      command_ == BatchCommand::kCreateFloppy ? "Create Floppy" : "Create CD-ROM";
  bool enabled = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    BatchLine(screen_, OneLine(title_));
    titlePrinted_ = true;
    const std::string status = texts_[kStatusLineControl];
    if (!status.empty()) BatchLine(screen_, OneLine(status));
    if (ended_) {
      running_ = false;
      batchFailed_ = true;
      return endCode_;
    }
    enabled = Enabled(button);
    if (!enabled) {
      BatchLine(errors_, "installer: " + name + " is disabled: " + OneLine(status));
      batchFailed_ = true;
      running_ = false;
      return platform::kIdCancelCommand;
    }
  }

  // The job's threads start while the button's click is handled.
  const int startedBefore = threads_->Started();
  events.OnCommand(button);
  if (threads_->Started() > startedBefore) {
    jobStarted_ = true;
    while (threads_->Running() > 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(kBatchPollMs));
    }
  } else {
    std::lock_guard<std::mutex> lock(mutex_);
    BatchLine(errors_, "installer: " + name + " started no job");
    batchFailed_ = true;
  }

  // Leaves the dialog as Escape does, so the program closes it its own way.
  bool ended = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ended = ended_;
  }
  if (!ended) events.OnCommand(platform::kIdCancelCommand);
  std::lock_guard<std::mutex> lock(mutex_);
  running_ = false;
  return ended_ ? endCode_ : platform::kIdCancelCommand;
}

void TerminalDialog::BatchLine(std::FILE* stream, const std::string& line) {
  std::fputs(line.c_str(), stream);
  std::fputc('\n', stream);
  std::fflush(stream);
}

}  // namespace frontend
