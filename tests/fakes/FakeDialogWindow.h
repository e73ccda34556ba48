// The main dialog in memory: every control change is logged in order (each control's state
// is read back from the log), message boxes are answered from a script, and a modal run
// delivers the start-up events and then runs the test's script of presses.
#pragma once

#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/DialogWindow.h"
#include "platform/Threads.h"

namespace fakes {

constexpr int kStillOpen = -99;

struct FakeMessageBox {
  std::string text;
  std::string caption;
  uint32_t type = 0;
  bool owned = false;
};

class FakeDialogWindow : public platform::DialogWindow {
 public:
  void SetText(int id, const std::string& text) override { Logged("text", id, " " + text); }
  void Enable(int id, bool enabled) override { Logged(enabled ? "enable" : "disable", id, ""); }
  void SetProgressRange(int id, uint16_t maximum) override {
    Logged("range", id, " " + std::to_string(maximum));
  }
  void SetProgressPos(int id, int position) override {
    Logged("pos", id, " " + std::to_string(position));
  }
  int MessageBox(const std::string& text, const std::string& caption, uint32_t type,
                 bool owned) override {
    char line[32];
    std::snprintf(line, sizeof line, "box %s 0x%02X ", owned ? "owned" : "free", type);
    {
      std::lock_guard<platform::Lock> guard(lock_);
      boxes_.push_back({text, caption, type, owned});
    }
    Logged(line + caption + ": " + text);
    std::lock_guard<platform::Lock> guard(lock_);
    if (answers_.empty()) return platform::kIdOk;
    const int answer = answers_.front();
    answers_.pop_front();
    return answer;
  }
  void AddListItem(int id, const std::string& item) override { lists_[id].push_back(item); }
  void SetListSelection(int id, int index) override { selections_[id] = index; }
  int GetListSelection(int id) override {
    return selections_.count(id) ? selections_[id] : platform::kNoSelection;
  }
  void SetPicture(int, std::unique_ptr<platform::Bitmap> picture) override {
    hasPicture = picture != nullptr;
  }
  void SetTitle(const std::string& text) override { title = text; }
  int RunModal(platform::DialogEvents& events) override {
    ran = true;
    events.OnInitDialog();
    events.OnShowWindow(true);
    if (script) script(events);
    return endCode;
  }
  void EndDialog(int code) override {
    if (endCode == kStillOpen) endCode = code;
  }

  /// Copies, safe while jobs run.
  std::vector<std::string> Log() const { return Locked(log_); }
  std::vector<FakeMessageBox> Boxes() const { return Locked(boxes_); }
  /// A control's state: what the last change logged for it set.
  std::string TextOf(int id) const { return Last({"text " + std::to_string(id) + " "}, ""); }
  bool EnabledOf(int id) const {
    const std::string n = std::to_string(id);
    return Last({"disable " + n, "enable " + n}, "") != "disable " + n;
  }
  int PositionOf(int id) const { return std::stoi(Last({"pos " + std::to_string(id) + " "}, "0")); }
  using Strings = std::vector<std::string>;
  Strings ListItems(int id) const { return lists_.count(id) ? lists_.at(id) : Strings(); }
  /// Forgets every change, box, answer, list and run.
  void Reset() {
    std::lock_guard<platform::Lock> guard(lock_);
    log_.clear(), boxes_.clear(), answers_.clear(), lists_.clear(), selections_.clear();
    title.clear();
    hasPicture = ran = false;
    endCode = kStillOpen;
  }
  /// Answers for the next message boxes, in order; IDOK once they run out.
  void Answer(int button) {
    std::lock_guard<platform::Lock> guard(lock_);
    answers_.push_back(button);
  }

  /// Called with each new log line on the thread that made the change, outside the lock
  /// (before a message box is answered): tests use it to act at a chosen point.
  std::function<void(const std::string&)> onLog;
  /// Run inside RunModal after the start-up events, on the test's thread.
  std::function<void(platform::DialogEvents&)> script;
  std::string title;
  bool hasPicture = false;
  bool ran = false;
  int endCode = kStillOpen;

 private:
  template <typename T>
  T Locked(const T& value) const {
    std::lock_guard<platform::Lock> guard(lock_);
    return value;
  }
  void Logged(const std::string& kind, int id, const std::string& rest) {
    Logged(kind + " " + std::to_string(id) + rest);
  }
  void Logged(const std::string& line) {
    {
      std::lock_guard<platform::Lock> guard(lock_);
      log_.push_back(line);
    }
    if (onLog) onLog(line);
  }
  // The last log line that starts with one of `prefixes`, less the first prefix; else `none`.
  std::string Last(const std::vector<std::string>& prefixes, const std::string& none) const {
    const std::vector<std::string> log = Log();
    for (auto line = log.rbegin(); line != log.rend(); ++line) {
      for (const std::string& prefix : prefixes) {
        if (line->rfind(prefix, 0) != 0) continue;
        return prefixes.size() == 1 ? line->substr(prefix.size()) : *line;
      }
    }
    return none;
  }

  mutable platform::Lock lock_;
  std::vector<std::string> log_;
  std::vector<FakeMessageBox> boxes_;
  std::deque<int> answers_;
  std::map<int, std::vector<std::string>> lists_;
  std::map<int, int> selections_;
};

}  // namespace fakes
