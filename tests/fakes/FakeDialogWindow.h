// The main dialog in memory: every control change is logged in order and each control's
// state kept, message boxes are answered from a script, and a modal run delivers the
// start-up events and then runs the test's script of presses.
#pragma once

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
  void SetText(int id, const std::string& text) override;
  void Enable(int id, bool enabled) override;
  void SetProgressRange(int id, uint16_t maximum) override;
  void SetProgressPos(int id, int position) override;
  int MessageBox(const std::string& text, const std::string& caption, uint32_t type,
                 bool owned) override;
  void AddListItem(int id, const std::string& item) override { s_.lists[id].push_back(item); }
  void SetListSelection(int id, int index) override { s_.selections[id] = index; }
  int GetListSelection(int id) override;
  void SetPicture(int, std::unique_ptr<platform::Bitmap> picture) override {
    hasPicture = picture != nullptr;
  }
  void SetTitle(const std::string& text) override { title = text; }
  int RunModal(platform::DialogEvents& events) override;
  void EndDialog(int code) override {
    if (endCode == kStillOpen) endCode = code;
  }

  /// Copies, safe while jobs run.
  std::vector<std::string> Log() const { return Locked(s_.log); }
  std::vector<FakeMessageBox> Boxes() const { return Locked(s_.boxes); }
  std::string TextOf(int id) const { return Locked(s_.texts)[id]; }
  bool EnabledOf(int id) const { return Locked(s_.enabled).emplace(id, true).first->second; }
  int PositionOf(int id) const { return Locked(s_.positions)[id]; }
  std::vector<std::string> ListItems(int id) const { return s_.lists[id]; }
  /// Forgets every change, box, answer, list and run.
  void Reset();
  /// Answers for the next message boxes, in order; IDOK once they run out.
  void Answer(int button);

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
  /// Applies `change` under the lock, then logs `line`.
  void Logged(
      const std::string& line, const std::function<void()>& change = [] {});

  mutable platform::Lock lock_;
  struct State {
    std::vector<std::string> log;
    std::vector<FakeMessageBox> boxes;
    std::map<int, std::string> texts;
    std::map<int, bool> enabled;
    std::map<int, int> positions;
    std::deque<int> answers;
    mutable std::map<int, std::vector<std::string>> lists;
    std::map<int, int> selections;
  } s_;
};

}  // namespace fakes
