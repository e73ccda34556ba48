#include "frontend/linux/TerminalDialog.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "frontend/linux/TerminalKeys.h"

namespace frontend {

using namespace terminal;

namespace {

constexpr auto kCloseRetry = std::chrono::seconds(1);

}  // namespace

TerminalDialog::TerminalDialog(int inputFd, std::FILE* screen)
    : batch_(false), inputFd_(inputFd), screen_(screen), errors_(screen) {
  inputIsTerminal_ = isatty(inputFd) == 1;
}

TerminalDialog::TerminalDialog(BatchCommand command, const ThreadCounter& threads, std::FILE* log,
                               std::FILE* errors)
    : batch_(true), command_(command), threads_(&threads), screen_(log), errors_(errors) {}

TerminalDialog::~TerminalDialog() {
  RestoreTerminal();
}

void TerminalDialog::SetText(int controlId, const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  const bool changed = texts_[controlId] != text;
  texts_[controlId] = text;
  if (batch_ && changed && controlId == kStatusLineControl && titlePrinted_ && !text.empty()) {
    BatchLine(screen_, OneLine(text));
  }
  Redraw();
}

void TerminalDialog::Enable(int controlId, bool enabled) {
  std::lock_guard<std::mutex> lock(mutex_);
  enabled_[controlId] = enabled;
  Redraw();
}

void TerminalDialog::SetProgressRange(int controlId, uint16_t maximum) {
  std::lock_guard<std::mutex> lock(mutex_);
  progress_[controlId].maximum = maximum;
  Redraw();
}

void TerminalDialog::SetProgressPos(int controlId, int position) {
  std::lock_guard<std::mutex> lock(mutex_);
  progress_[controlId].position = position;
  Redraw();
}

int TerminalDialog::MessageBox(const std::string& text, const std::string& caption, uint32_t type,
                               bool) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (batch_) {
    BatchLine(screen_, OneLine(caption) + ": " + OneLine(text));
    return platform::kIdOk;
  }
  EnterTerminalMode();
  PendingBox box;
  box.text = text;
  box.caption = caption;
  box.type = type;
  boxes_.push_back(&box);
  Redraw();
  // Whichever waiting thread is free reads the next key; a key that answers another box, or
  // belongs to the dialog, is passed on to its owner.
  while (!box.answered) {
    if (inputEnded_) {
      boxes_.erase(std::find(boxes_.begin(), boxes_.end(), &box));
      box.answered = true;
      box.answer = (type & 0xF) == platform::kMbOkCancel ? platform::kIdCancel : platform::kIdOk;
      Redraw();
      changed_.notify_all();
    } else if (!reading_) {
      RouteKey(ReadKeyUnlocked(lock));
    } else {
      changed_.wait_for(lock, std::chrono::milliseconds(kReadWaitMs));
    }
  }
  return box.answer;
}

void TerminalDialog::AddListItem(int controlId, const std::string& item) {
  std::lock_guard<std::mutex> lock(mutex_);
  lists_[controlId].push_back(item);
  Redraw();
}

void TerminalDialog::SetListSelection(int controlId, int index) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto count = static_cast<int>(lists_[controlId].size());
  // An index outside the list clears the selection, as CB_SETCURSEL does.
  selections_[controlId] = index >= 0 && index < count ? index : platform::kNoSelection;
  Redraw();
}

int TerminalDialog::GetListSelection(int controlId) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = selections_.find(controlId);
  return found == selections_.end() ? platform::kNoSelection : found->second;
}

void TerminalDialog::SetPicture(int, std::unique_ptr<platform::Bitmap> picture) {
  std::lock_guard<std::mutex> lock(mutex_);
  picture_ = std::move(picture);
  Redraw();
}

void TerminalDialog::SetTitle(const std::string& title) {
  std::lock_guard<std::mutex> lock(mutex_);
  title_ = title;
  Redraw();
}

void TerminalDialog::EndDialog(int code) {
  std::lock_guard<std::mutex> lock(mutex_);
  ended_ = true;
  endCode_ = code;
  changed_.notify_all();
}

std::string TerminalDialog::Text(int controlId) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = texts_.find(controlId);
  return found == texts_.end() ? std::string() : found->second;
}

bool TerminalDialog::IsEnabled(int controlId) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return Enabled(controlId);
}

std::vector<std::string> TerminalDialog::ListItems(int controlId) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = lists_.find(controlId);
  return found == lists_.end() ? std::vector<std::string>() : found->second;
}

bool TerminalDialog::Enabled(int controlId) const {
  const auto found = enabled_.find(controlId);
  return found == enabled_.end() || found->second;
}

int TerminalDialog::RunModal(platform::DialogEvents& events) {
  if (batch_) return RunBatch(events);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    EnterTerminalMode();
    running_ = true;
    ended_ = false;
    dialogKeys_.clear();
  }
  events.OnInitDialog();
  events.OnShowWindow(true);

  std::unique_lock<std::mutex> lock(mutex_);
  Redraw();
  auto nextClose = std::chrono::steady_clock::now();
  while (!ended_) {
    if (!dialogKeys_.empty()) {
      const int key = dialogKeys_.front();
      dialogKeys_.pop_front();
      lock.unlock();
      HandleDialogKey(events, key);
      lock.lock();
    } else if (inputEnded_) {
      // No key can come any more: the window is closed, again each second while the
      // program holds it back, as a user would try again.
      if (std::chrono::steady_clock::now() >= nextClose) {
        lock.unlock();
        if (events.OnClose()) EndDialog(platform::kIdCancelCommand);
        lock.lock();
        nextClose = std::chrono::steady_clock::now() + kCloseRetry;
      } else {
        changed_.wait_until(lock, nextClose);
      }
    } else if (!reading_) {
      RouteKey(ReadKeyUnlocked(lock));
    } else {
      changed_.wait_for(lock, std::chrono::milliseconds(kReadWaitMs));
    }
  }
  running_ = false;
  dialogKeys_.clear();
  return endCode_;
}

}  // namespace frontend
