// The dialog's controls in memory: every change is logged in order, the current state of
// each control is kept, and message boxes are answered from a script.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/DialogControls.h"
#include "platform/Threads.h"

namespace fakes {

struct FakeMessageBox {
  std::string text;
  std::string caption;
  uint32_t type = 0;
  bool owned = false;
};

class FakeDialogControls : public platform::DialogControls {
 public:
  void SetText(int controlId, const std::string& text) override;
  void Enable(int controlId, bool enabled) override;
  void SetProgressRange(int controlId, uint16_t maximum) override;
  void SetProgressPos(int controlId, int position) override;
  int MessageBox(const std::string& text, const std::string& caption, uint32_t type,
                 bool ownedByDialog) override;

  std::vector<std::string> Log() const;
  std::vector<FakeMessageBox> Boxes() const;
  std::string TextOf(int controlId) const;
  bool EnabledOf(int controlId) const;  ///< controls start enabled
  int PositionOf(int controlId) const;
  int RangeOf(int controlId) const;

  /// Forgets every change, box and answer.
  void Reset();
  /// Answers for the next message boxes, in order; IDOK once they run out.
  void Answer(int button);

  /// Called with each new log line on the thread that made the change, outside the
  /// fake's lock (before a message box is answered): tests use it to act at a chosen
  /// point of another thread's work.
  std::function<void(const std::string&)> onLog;

 private:
  void Logged(const std::string& line);

  mutable platform::Lock lock_;
  std::vector<std::string> log_;
  std::vector<FakeMessageBox> boxes_;
  std::map<int, std::string> texts_;
  std::map<int, bool> enabled_;
  std::map<int, int> positions_;
  std::map<int, int> ranges_;
  std::deque<int> answers_;
};

}  // namespace fakes
