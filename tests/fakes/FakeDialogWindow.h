// The main dialog in memory: changes logged and read back, message boxes answered by script.
#pragma once

#include <algorithm>
#include <cstdio>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>
#include "platform/DialogWindow.h"
#include "tests/fakes/FakeSystem.h"

namespace fakes {

constexpr int kStillOpen = -99;

struct FakeMessageBox {
  std::string text;
  std::string caption;
  uint32_t type = 0;
  bool owned = false;
};

class FakeDialogWindow : public platform::DialogWindow, Guarded {
 public:
  using Strings = std::vector<std::string>;
  void SetText(int id, const std::string& text) override { Logged("text", id, text); }
  void Enable(int id, bool on) override { Logged(on ? "enable" : "disable", id, ""); }
  void SetProgressRange(int id, uint16_t top) override { Logged("range", id, std::to_string(top)); }
  void SetProgressPos(int id, int pos) override { Logged("pos", id, std::to_string(pos)); }
  void AddListItem(int id, const std::string& item) override { Logged("item", id, item); }
  void SetListSelection(int id, int index) override { Logged("select", id, std::to_string(index)); }
  /// Logged as "box owned|free 0xTYPE CAPTION: TEXT".
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
    const int answer = answers_.empty() ? platform::kIdOk : answers_.front();
    if (!answers_.empty()) answers_.pop_front();
    return answer;
  }
  int GetListSelection(int id) override {
    return std::stoi(Last(Values("select", id), std::to_string(platform::kNoSelection)));
  }
  void SetPicture(int, std::unique_ptr<platform::Bitmap> bitmap) override { hasPicture = !!bitmap; }
  void SetTitle(const std::string& text) override { title = text; }
  int RunModal(platform::DialogEvents& events) override {
    ran = true;
    events.OnInitDialog();
    events.OnShowWindow(true);
    if (script) script(events);
    return endCode;
  }
  void EndDialog(int code) override { endCode = endCode == kStillOpen ? code : endCode; }
  /// Copies, safe while jobs run.
  Strings Log() const { return Copy(log_); }
  std::vector<FakeMessageBox> Boxes() const { return Copy(boxes_); }
  /// The rest of each log line starting with `prefix`; Values: a kind's ("text", "pos") for `id`.
  Strings Lines(const std::string& prefix) const {
    Strings values;
    for (const std::string& line : Log())
      if (line.rfind(prefix, 0) == 0) values.push_back(line.substr(prefix.size()));
    return values;
  }
  Strings Values(const std::string& kind, int id) const {
    return Lines(kind + " " + std::to_string(id) + " ");
  }
  std::string TextOf(int id) const { return Last(Values("text", id), ""); }
  bool EnabledOf(int id) const {
    const Strings log = Log();
    const std::string n = std::to_string(id) + " ", on = "enable " + n, off = "disable " + n;
    const auto last = std::find_if(log.rbegin(), log.rend(),
                                   [&](const std::string& l) { return l == on || l == off; });
    return last == log.rend() || *last == on;
  }
  int PositionOf(int id) const { return std::stoi(Last(Values("pos", id), "0")); }
  Strings ListItems(int id) const { return Values("item", id); }
  void Reset() {
    std::lock_guard<platform::Lock> guard(lock_);
    log_.clear(), answers_.clear(), boxes_.clear(), title.clear();
    hasPicture = ran = false;
    endCode = kStillOpen;
  }
  /// Answers for the next message boxes, in order; IDOK once they run out.
  void Answer(int button) {
    std::lock_guard<platform::Lock> guard(lock_);
    answers_.push_back(button);
  }
  /// Called with each log line, outside the lock (before a box is answered), on its thread.
  std::function<void(const std::string&)> onLog;
  std::function<void(platform::DialogEvents&)> script;  ///< run inside RunModal
  std::string title;
  bool hasPicture = false, ran = false;
  int endCode = kStillOpen;

 private:
  static std::string Last(const Strings& values, const std::string& none) {
    return values.empty() ? none : values.back();
  }
  void Logged(const std::string& kind, int id, const std::string& value) {
    Logged(kind + " " + std::to_string(id) + " " + value);
  }
  void Logged(const std::string& line) {
    {
      std::lock_guard<platform::Lock> guard(lock_);
      log_.push_back(line);
    }
    if (onLog) onLog(line);
  }
  Strings log_;
  std::deque<int> answers_;
  std::vector<FakeMessageBox> boxes_;
};
}  // namespace fakes
