// The main dialog drawn in a terminal. Interactively it draws the dialog's visible controls
// with ANSI escapes and turns keys into the dialog's commands; in batch mode it presses one
// button, answers OK to every question and prints the status lines and messages as they
// come, one per line. The jobs' threads change controls and show messages while the dialog
// waits for keys, so every change is made, and drawn, under one lock.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/DialogWindow.h"

namespace frontend {

/// The button that batch mode presses.
enum class BatchCommand { kCreateFloppy, kCreateCd };

/// The program's threads as batch mode watches them, to know when a job has ended.
class ThreadCounter {
 public:
  virtual ~ThreadCounter() = default;
  /// Threads started so far.
  virtual int Started() const = 0;
  /// Threads started that have not ended yet.
  virtual int Running() const = 0;
};

/// Control ids of the main dialog, template 101.
constexpr int kProgressBarControl = 1001;
constexpr int kStatusLineControl = 1002;
constexpr int kCreateFloppyButton = 1003;
constexpr int kExitButton = 1004;
constexpr int kCreateCdButton = 1005;
constexpr int kPictureControl = 1011;
constexpr int kProgressGroup = 1012;
constexpr int kStatusGroup = 1013;
constexpr int kFloppyList = 1015;
constexpr int kCdList = 1016;
constexpr int kCdGroup = 1017;
constexpr int kFloppyGroup = 1018;

/// How often batch mode looks whether the job's threads have ended.
constexpr int kBatchPollMs = 50;

class TerminalDialog : public platform::DialogWindow {
 public:
  /// Interactive: keys come from `inputFd`, in raw mode while it is a terminal and one key
  /// per line otherwise; the dialog is drawn on `screen`.
  TerminalDialog(int inputFd, std::FILE* screen);
  /// Batch: RunModal presses `command`'s button once and waits until the threads it
  /// started have ended. Status lines and messages go to `log`, complaints to `errors`.
  TerminalDialog(BatchCommand command, const ThreadCounter& threads, std::FILE* log,
                 std::FILE* errors);
  /// Gives the terminal back as it was found.
  ~TerminalDialog() override;
  TerminalDialog(const TerminalDialog&) = delete;
  TerminalDialog& operator=(const TerminalDialog&) = delete;

  void SetText(int controlId, const std::string& text) override;
  void Enable(int controlId, bool enabled) override;
  void SetProgressRange(int controlId, uint16_t maximum) override;
  void SetProgressPos(int controlId, int position) override;
  /// Shows the box below the dialog and waits for its answer: Enter is OK, Escape (or q)
  /// Cancel; a box without Cancel takes either as OK. Batch mode prints "Caption: text" and
  /// answers OK at once.
  int MessageBox(const std::string& text, const std::string& caption, uint32_t type,
                 bool ownedByDialog) override;
  void AddListItem(int controlId, const std::string& item) override;
  void SetListSelection(int controlId, int index) override;
  int GetListSelection(int controlId) override;
  /// Keeps the picture; the terminal shows its size in its place.
  void SetPicture(int controlId, std::unique_ptr<platform::Bitmap> picture) override;
  void SetTitle(const std::string& title) override;
  /// Interactive: draws the dialog and turns keys into commands until EndDialog. Batch:
  /// presses the button, waits for the job and leaves as Escape does.
  int RunModal(platform::DialogEvents& events) override;
  void EndDialog(int code) override;

  /// Batch: whether pressing the button started a job (threads were started during it).
  bool JobStarted() const { return jobStarted_; }
  /// Batch: the button was disabled or started no job.
  bool BatchFailed() const { return batchFailed_; }
  /// Puts the terminal back in the mode it was found in; safe to call more than once and
  /// from any thread, also just before the process ends.
  void RestoreTerminal();

  /// A control's text as last set ("" when never set).
  std::string Text(int controlId) const;
  /// Whether a control is enabled; controls start enabled.
  bool IsEnabled(int controlId) const;
  /// A list's items.
  std::vector<std::string> ListItems(int controlId) const;

 private:
  /// A message box waiting for its answer; it lives on the stack of the thread that shows it.
  struct PendingBox {
    std::string text;
    std::string caption;
    uint32_t type = 0;
    bool answered = false;
    int answer = platform::kIdOk;
  };
  struct Progress {
    int maximum = 100;
    int position = 0;
  };

  // The following run with mutex_ held.
  bool Enabled(int controlId) const;
  /// Reads one key, with the lock released while it waits; only one thread reads at a time.
  int ReadKeyUnlocked(std::unique_lock<std::mutex>& lock);
  /// Answers the front box with `key`, or queues the key for the dialog's own loop.
  void RouteKey(int key);
  void AnswerFront(int answer);
  /// Draws the screen again when it changed (interactive), or nothing (batch).
  void Redraw();
  std::string Render() const;
  void RenderDialog(std::vector<std::string>* lines) const;
  void RenderBox(const PendingBox& box, std::vector<std::string>* lines) const;
  int ScreenWidth() const;
  void EnterTerminalMode();
  void BatchLine(std::FILE* stream, const std::string& line);

  /// Carries out one key that reached the dialog; runs on RunModal's thread, unlocked.
  void HandleDialogKey(platform::DialogEvents& events, int key);
  int RunBatch(platform::DialogEvents& events);

  const bool batch_;
  const BatchCommand command_ = BatchCommand::kCreateFloppy;
  const ThreadCounter* threads_ = nullptr;
  const int inputFd_ = -1;
  std::FILE* const screen_;
  std::FILE* const errors_;
  bool inputIsTerminal_ = false;
  bool terminalEntered_ = false;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::string title_;
  std::map<int, std::string> texts_;
  std::map<int, bool> enabled_;
  std::map<int, std::vector<std::string>> lists_;
  std::map<int, int> selections_;
  std::map<int, Progress> progress_;
  std::unique_ptr<platform::Bitmap> picture_;
  int focusedList_ = kFloppyList;
  bool running_ = false;  ///< inside RunModal: the dialog is on the screen
  bool ended_ = false;
  int endCode_ = 0;
  bool reading_ = false;       ///< a thread is waiting for a key
  bool inputEnded_ = false;    ///< end of input: boxes take their default answer
  bool titlePrinted_ = false;  ///< batch: status lines print from the title on
  std::deque<PendingBox*> boxes_;
  std::deque<int> dialogKeys_;
  std::string lineBuffer_;  ///< line mode: what has been read past the last full line
  std::string drawn_;
  bool boxesOnly_ = false;  ///< the screen shows boxes without the dialog

  std::atomic<bool> jobStarted_{false};
  std::atomic<bool> batchFailed_{false};
};

/// Install texts are Windows-1252; the terminal shows UTF-8. Control characters other than
/// line breaks become spaces.
std::string ToTerminalText(const std::string& text);

}  // namespace frontend
