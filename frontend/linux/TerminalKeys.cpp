// The terminal dialog's keyboard: raw mode and the signals that must give the terminal
// back, reading keys (raw keys from a terminal, typed lines otherwise), and turning them
// into answers for message boxes or the dialog's commands.
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>

#include "frontend/linux/TerminalDialog.h"
#include "frontend/linux/TerminalKeys.h"

namespace frontend {

using namespace terminal;

namespace {

// How long the rest of an escape sequence may take to follow its ESC byte.
constexpr int kSequenceWaitMs = 30;

// The terminal as found, for putting it back, also from a signal handler.
struct termios g_savedMode;
struct termios g_rawMode;
int g_terminalFd = -1;
int g_screenFd = -1;
std::atomic<bool> g_rawActive{false};
std::atomic<bool> g_redrawWanted{false};
constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
struct sigaction g_previousActions[sizeof kEndingSignals / sizeof kEndingSignals[0]];
struct sigaction g_previousStop;
struct sigaction g_previousContinue;
struct sigaction g_previousResize;

constexpr char kShowCursor[] = "\x1b[?25h";
constexpr char kHideCursor[] = "\x1b[?25l";

// Async-signal-safe: only tcsetattr and write.
void PutTerminalBack() {
  if (!g_rawActive.load()) return;
  tcsetattr(g_terminalFd, TCSANOW, &g_savedMode);
  if (g_screenFd >= 0) {
    [[maybe_unused]] const ssize_t written = write(g_screenFd, kShowCursor, sizeof kShowCursor - 1);
  }
}

void OnEndingSignal(int signalNumber) {
  PutTerminalBack();
  g_rawActive = false;
  // The default action ends the process once this handler returns.
  signal(signalNumber, SIG_DFL);
  raise(signalNumber);
}

void OnStopSignal(int) {
  PutTerminalBack();
  signal(SIGTSTP, SIG_DFL);
  raise(SIGTSTP);
}

void OnContinueSignal(int);

// A signal that the program was started ignoring stays ignored.
void Catch(int signalNumber, void (*handler)(int), struct sigaction* previous) {
  struct sigaction current = {};
  sigaction(signalNumber, nullptr, &current);
  if (previous != nullptr) *previous = current;
  if (current.sa_handler == SIG_IGN) return;
  struct sigaction action = {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  sigaction(signalNumber, &action, nullptr);
}

void OnContinueSignal(int) {
  if (!g_rawActive.load()) return;
  tcsetattr(g_terminalFd, TCSANOW, &g_rawMode);
  Catch(SIGTSTP, OnStopSignal, nullptr);
  g_redrawWanted = true;
}

void OnResizeSignal(int) {
  g_redrawWanted = true;
}

// A typed line as a key: an empty line is Enter, and names stand for the keys that have no
// character.
int KeyOfLine(std::string line) {
  line.erase(std::remove(line.begin(), line.end(), '\r'), line.end());
  while (!line.empty() && line.back() == ' ') line.pop_back();
  while (!line.empty() && line.front() == ' ') line.erase(0, 1);
  for (char& c : line) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (line.empty()) return kKeyEnter;
  if (line == "esc" || line == "escape" || line == "\x1b") return kKeyEscape;
  if (line == "up") return kKeyUp;
  if (line == "down") return kKeyDown;
  if (line == "tab") return kKeyTab;
  return static_cast<unsigned char>(line[0]);
}

bool WaitReadable(int fd, int milliseconds) {
  struct pollfd ready = {};
  ready.fd = fd;
  ready.events = POLLIN;
  return poll(&ready, 1, milliseconds) > 0;
}

// One byte, or -1 after `milliseconds` without one, or kKeyEnd at the end of input.
int ReadByte(int fd, int milliseconds) {
  if (!WaitReadable(fd, milliseconds)) return kKeyNone;
  unsigned char byte = 0;
  const ssize_t got = read(fd, &byte, 1);
  if (got == 1) return byte;
  if (got == 0 || (errno != EINTR && errno != EAGAIN)) return kKeyEnd;
  return kKeyNone;
}

// A key from a terminal in raw mode.
int ReadTerminalKey(int fd) {
  const int byte = ReadByte(fd, kReadWaitMs);
  if (byte < 0) return byte;
  if (byte == '\r' || byte == '\n') return kKeyEnter;
  if (byte == '\t') return kKeyTab;
  if (byte != 0x1b) return std::tolower(byte);
  // ESC alone is the Escape key; ESC [ or ESC O starts a cursor key's sequence.
  const int next = ReadByte(fd, kSequenceWaitMs);
  if (next != '[' && next != 'O') return kKeyEscape;
  while (true) {
    const int part = ReadByte(fd, kSequenceWaitMs);
    if (part < 0) return kKeyNone;
    if (part >= 0x40 && part <= 0x7E) {
      if (part == 'A') return kKeyUp;
      if (part == 'B') return kKeyDown;
      return kKeyNone;
    }
  }
}

}  // namespace

void TerminalDialog::RestoreTerminal() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!terminalEntered_) return;
  terminalEntered_ = false;
  if (inputIsTerminal_ && g_rawActive.load()) {
    tcsetattr(g_terminalFd, TCSANOW, &g_savedMode);
    g_rawActive = false;
    for (size_t i = 0; i < sizeof kEndingSignals / sizeof kEndingSignals[0]; ++i) {
      sigaction(kEndingSignals[i], &g_previousActions[i], nullptr);
    }
    sigaction(SIGTSTP, &g_previousStop, nullptr);
    sigaction(SIGCONT, &g_previousContinue, nullptr);
    sigaction(SIGWINCH, &g_previousResize, nullptr);
  }
  std::fputs(kShowCursor, screen_);
  std::fputc('\n', screen_);
  std::fflush(screen_);
}

void TerminalDialog::EnterTerminalMode() {
  if (batch_ || terminalEntered_) return;
  terminalEntered_ = true;
  g_screenFd = fileno(screen_);
  if (inputIsTerminal_ && tcgetattr(inputFd_, &g_savedMode) == 0) {
    g_terminalFd = inputFd_;
    g_rawMode = g_savedMode;
    // Keys arrive one by one and unechoed; Ctrl+C still ends the program, through the
    // handler that gives the terminal back first.
    g_rawMode.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    g_rawMode.c_cc[VMIN] = 1;
    g_rawMode.c_cc[VTIME] = 0;
    for (size_t i = 0; i < sizeof kEndingSignals / sizeof kEndingSignals[0]; ++i) {
      Catch(kEndingSignals[i], OnEndingSignal, &g_previousActions[i]);
    }
    Catch(SIGTSTP, OnStopSignal, &g_previousStop);
    Catch(SIGCONT, OnContinueSignal, &g_previousContinue);
    Catch(SIGWINCH, OnResizeSignal, &g_previousResize);
    g_rawActive = true;
    tcsetattr(inputFd_, TCSANOW, &g_rawMode);
  }
  std::fputs(kHideCursor, screen_);
  std::fputs("\x1b[2J\x1b[H", screen_);
  std::fflush(screen_);
  drawn_.clear();
}

int TerminalDialog::ReadKeyUnlocked(std::unique_lock<std::mutex>& lock) {
  reading_ = true;
  lock.unlock();
  int key = kKeyNone;
  if (inputIsTerminal_) {
    key = ReadTerminalKey(inputFd_);
  } else {
    // Line mode: lineBuffer_ belongs to the one reading thread while reading_ is set.
    size_t end = lineBuffer_.find('\n');
    if (end == std::string::npos && WaitReadable(inputFd_, kReadWaitMs)) {
      char chunk[256];
      const ssize_t got = read(inputFd_, chunk, sizeof chunk);
      if (got > 0) {
        lineBuffer_.append(chunk, static_cast<size_t>(got));
      } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
        // A last line without its line break still counts.
        key = lineBuffer_.empty() ? kKeyEnd : KeyOfLine(lineBuffer_);
        lineBuffer_.clear();
      }
      end = lineBuffer_.find('\n');
    }
    if (end != std::string::npos) {
      key = KeyOfLine(lineBuffer_.substr(0, end));
      lineBuffer_.erase(0, end + 1);
    }
  }
  lock.lock();
  reading_ = false;
  if (key == kKeyEnd) inputEnded_ = true;
  if (g_redrawWanted.exchange(false)) drawn_.clear();
  Redraw();
  changed_.notify_all();
  return key;
}

void TerminalDialog::RouteKey(int key) {
  if (key == kKeyNone) return;
  if (!boxes_.empty()) {
    const bool hasCancel = (boxes_.front()->type & 0xF) == platform::kMbOkCancel;
    if (key == kKeyEnter || key == 'o' || key == 'y') {
      AnswerFront(platform::kIdOk);
    } else if (key == kKeyEscape || key == 'q' || key == 'n' || key == kKeyEnd) {
      AnswerFront(hasCancel ? platform::kIdCancel : platform::kIdOk);
    }
    return;
  }
  if (running_) {
    dialogKeys_.push_back(key);
    changed_.notify_all();
  }
}

void TerminalDialog::AnswerFront(int answer) {
  PendingBox* box = boxes_.front();
  boxes_.pop_front();
  box->answered = true;
  box->answer = answer;
  Redraw();
  changed_.notify_all();
}

void TerminalDialog::HandleDialogKey(platform::DialogEvents& events, int key) {
  int button = 0;
  switch (key) {
    case 'f':
      button = kCreateFloppyButton;
      break;
    case 'c':
      button = kCreateCdButton;
      break;
    case 'x':
      button = kExitButton;
      break;
    case kKeyEnter:
      events.OnCommand(platform::kIdOkCommand);
      return;
    case kKeyEscape:
    case 'q':
      events.OnCommand(platform::kIdCancelCommand);
      return;
    case 'w':
      if (events.OnClose()) EndDialog(platform::kIdCancelCommand);
      return;
    default:
      break;
  }
  if (button != 0) {
    bool enabled = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      enabled = Enabled(button);
    }
    // A disabled button takes no clicks.
    if (enabled) events.OnCommand(button);
    return;
  }

  std::lock_guard<std::mutex> lock(mutex_);
  if (key == kKeyTab) {
    const int other = focusedList_ == kFloppyList ? kCdList : kFloppyList;
    if (Enabled(other)) focusedList_ = other;
  } else if (Enabled(focusedList_)) {
    const auto count = static_cast<int>(lists_[focusedList_].size());
    const auto found = selections_.find(focusedList_);
    const int current = found == selections_.end() ? platform::kNoSelection : found->second;
    int wanted = current;
    if (key == kKeyUp) wanted = current - 1;
    if (key == kKeyDown) wanted = current + 1;
    if (key >= '1' && key <= '9') wanted = key - '1';
    if (wanted >= 0 && wanted < count) selections_[focusedList_] = wanted;
  }
  Redraw();
}

}  // namespace frontend
