#include "frontend/linux/TerminalDialog.h"

#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <thread>

namespace frontend {

namespace {

// Keys as the dialog sees them: characters as themselves, the rest above the byte range.
constexpr int kKeyNone = -1;
constexpr int kKeyEnd = -2;  // the input has ended
constexpr int kKeyEnter = 0x100;
constexpr int kKeyEscape = 0x101;
constexpr int kKeyUp = 0x102;
constexpr int kKeyDown = 0x103;
constexpr int kKeyTab = 0x104;

constexpr int kReadWaitMs = 100;
// How long the rest of an escape sequence may take to follow its ESC byte.
constexpr int kSequenceWaitMs = 30;
constexpr int kProgressCells = 20;
constexpr auto kCloseRetry = std::chrono::seconds(1);

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

// Windows-1252 0x80 to 0x9F; 0 where the code page leaves a byte undefined.
constexpr uint16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

void AppendUtf8(uint32_t codePoint, std::string* out) {
  if (codePoint < 0x80) {
    out->push_back(static_cast<char>(codePoint));
  } else if (codePoint < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
    out->push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
    out->push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  }
}

// Characters on the screen: UTF-8 continuation bytes take no column.
size_t Columns(const std::string& text) {
  size_t count = 0;
  for (const char c : text) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
  }
  return count;
}

// The byte offset after the first `columns` characters of `text`.
size_t OffsetOfColumn(const std::string& text, size_t columns) {
  size_t seen = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
      if (seen == columns) return i;
      ++seen;
    }
  }
  return text.size();
}

// Breaks terminal text into lines of at most `width` characters, at spaces where it can.
std::vector<std::string> Wrap(const std::string& text, size_t width) {
  std::vector<std::string> lines;
  if (width < 1) width = 1;
  size_t start = 0;
  while (true) {
    const size_t end = text.find('\n', start);
    std::string paragraph = text.substr(start, end == std::string::npos ? end : end - start);
    while (Columns(paragraph) > width) {
      size_t cut = OffsetOfColumn(paragraph, width);
      const size_t space = paragraph.rfind(' ', cut);
      if (space != std::string::npos && space > 0) cut = space;
      lines.push_back(paragraph.substr(0, cut));
      paragraph.erase(0, cut);
      if (!paragraph.empty() && paragraph[0] == ' ') paragraph.erase(0, 1);
    }
    lines.push_back(paragraph);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return lines;
}

std::string OneLine(const std::string& text) {
  std::string line = ToTerminalText(text);
  std::replace(line.begin(), line.end(), '\n', ' ');
  return line;
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

const char* ButtonKey(int controlId) {
  switch (controlId) {
    case kCreateFloppyButton:
      return "f";
    case kCreateCdButton:
      return "c";
    default:
      return "x";
  }
}

}  // namespace

std::string ToTerminalText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == '\r') continue;
    if (byte == '\n') {
      out.push_back('\n');
    } else if (byte < 0x20 || byte == 0x7F) {
      out.push_back(' ');
    } else if (byte < 0x80) {
      out.push_back(c);
    } else if (byte < 0xA0) {
      const uint16_t codePoint = kCp1252High[byte - 0x80];
      AppendUtf8(codePoint != 0 ? codePoint : 0xFFFD, &out);
    } else {
      AppendUtf8(byte, &out);
    }
  }
  return out;
}

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

int TerminalDialog::ScreenWidth() const {
  struct winsize size = {};
  if (ioctl(fileno(screen_), TIOCGWINSZ, &size) == 0 && size.ws_col >= 20) return size.ws_col;
  return 80;
}

void TerminalDialog::Redraw() {
  if (batch_ || !terminalEntered_) return;
  if (!running_ && boxes_.empty()) {
    // With the dialog gone the last dialog screen stays, but an answered box goes.
    if (boxesOnly_) {
      std::fputs("\x1b[H\x1b[J", screen_);
      std::fflush(screen_);
      boxesOnly_ = false;
      drawn_.clear();
    }
    return;
  }
  boxesOnly_ = !running_;
  const std::string screen = Render();
  if (screen == drawn_) return;
  std::string out = drawn_.empty() ? "\x1b[2J\x1b[H" : "\x1b[H";
  size_t start = 0;
  while (start < screen.size()) {
    const size_t end = screen.find('\n', start);
    out.append(screen, start, end - start);
    out += "\x1b[K\n";
    start = end + 1;
  }
  out += "\x1b[J";
  std::fwrite(out.data(), 1, out.size(), screen_);
  std::fflush(screen_);
  drawn_ = screen;
}

std::string TerminalDialog::Render() const {
  std::vector<std::string> lines;
  if (running_) RenderDialog(&lines);
  if (!boxes_.empty()) {
    RenderBox(*boxes_.front(), &lines);
    if (boxes_.size() > 1) {
      lines.push_back("  (" + std::to_string(boxes_.size() - 1) + " more message(s) waiting)");
    }
  }
  std::string screen;
  for (const std::string& line : lines) screen += line + "\n";
  return screen;
}

void TerminalDialog::RenderDialog(std::vector<std::string>* lines) const {
  const auto width = static_cast<size_t>(ScreenWidth() - 1);
  const auto text = [this](int id) {
    const auto found = texts_.find(id);
    return found == texts_.end() ? std::string() : ToTerminalText(found->second);
  };
  const auto add = [&](const std::string& indent, const std::string& content) {
    for (const std::string& line : Wrap(content, width - indent.size())) {
      lines->push_back(indent + line);
    }
  };

  const std::string title = ToTerminalText(title_);
  add(" ", title);
  lines->push_back(" " + std::string(std::min(Columns(title), width - 1), '='));
  if (picture_) {
    add(" ", "[picture " + std::to_string(picture_->Width()) + "x" +
                 std::to_string(picture_->Height()) + "]");
  }
  for (const auto& [group, list] :
       {std::pair<int, int>{kFloppyGroup, kFloppyList}, std::pair<int, int>{kCdGroup, kCdList}}) {
    lines->push_back("");
    const bool focused = focusedList_ == list && Enabled(list);
    add(focused ? ">" : " ", text(group) + (Enabled(list) ? "" : " (disabled)"));
    const auto items = lists_.find(list);
    const auto chosen = selections_.find(list);
    const int selection = chosen == selections_.end() ? platform::kNoSelection : chosen->second;
    if (items == lists_.end() || items->second.empty()) {
      lines->push_back("     (none)");
      continue;
    }
    for (size_t i = 0; i < items->second.size(); ++i) {
      const bool selected = static_cast<int>(i) == selection;
      add("   ", std::to_string(i + 1) + (selected ? " (*) " : " ( ) ") +
                     ToTerminalText(items->second[i]));
    }
  }

  lines->push_back("");
  add(" ", text(kProgressGroup));
  const auto bar = progress_.find(kProgressBarControl);
  const Progress progress = bar == progress_.end() ? Progress() : bar->second;
  const int shown = std::clamp(progress.position, 0, std::max(progress.maximum, 0));
  const int filled = progress.maximum > 0 ? shown * kProgressCells / progress.maximum : 0;
  lines->push_back("   [" + std::string(static_cast<size_t>(filled), '#') +
                   std::string(static_cast<size_t>(kProgressCells - filled), '-') + "] " +
                   std::to_string(shown) + "/" + std::to_string(progress.maximum));
  add(" ", text(kStatusGroup));
  add("   ", text(kStatusLineControl));

  lines->push_back("");
  std::string buttons;
  for (const int button : {kCreateFloppyButton, kCreateCdButton, kExitButton}) {
    const std::string key = ButtonKey(button);
    buttons += Enabled(button) ? " [" + key + "] " + text(button) + "  "
                               : " (" + key + ") " + text(button) + " - disabled  ";
  }
  add("", buttons);
  const std::string keys = inputIsTerminal_
                               ? " Tab: other list  Up/Down, 1-9: choose a drive  Enter: OK  "
                                 "Esc, q: Cancel  w: close the window"
                               : " Type a key and Enter (an empty line is Enter, \"esc\" Escape, "
                                 "\"tab\", \"up\", \"down\"): f c x  1-9: choose a drive  "
                                 "q: Cancel  w: close the window";
  add("", keys);
}

void TerminalDialog::RenderBox(const PendingBox& box, std::vector<std::string>* lines) const {
  const auto width = static_cast<size_t>(ScreenWidth() - 1);
  const std::string caption = OneLine(box.caption);
  lines->push_back("");
  std::string top = " +-- " + caption + " ";
  if (Columns(top) < width) top += std::string(width - Columns(top), '-');
  lines->push_back(top);
  for (const std::string& line : Wrap(ToTerminalText(box.text), width - 4)) {
    lines->push_back(" | " + line);
  }
  lines->push_back(" |");
  lines->push_back((box.type & 0xF) == platform::kMbOkCancel ? " | [Enter] OK   [Esc] Cancel"
                                                             : " | [Enter] OK");
  lines->push_back(" +" + std::string(width > 2 ? width - 2 : 0, '-'));
}

}  // namespace frontend
