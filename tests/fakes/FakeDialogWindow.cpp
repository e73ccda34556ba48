#include "tests/fakes/FakeDialogWindow.h"

#include <cstdio>

namespace fakes {

using Guard = std::lock_guard<platform::Lock>;

void FakeDialogWindow::Logged(const std::string& line, const std::function<void()>& change) {
  {
    Guard guard(lock_);
    change();
    s_.log.push_back(line);
  }
  if (onLog) onLog(line);
}

void FakeDialogWindow::SetText(int id, const std::string& text) {
  Logged("text " + std::to_string(id) + " " + text, [&] { s_.texts[id] = text; });
}

void FakeDialogWindow::Enable(int id, bool enabled) {
  Logged((enabled ? "enable " : "disable ") + std::to_string(id),
         [&] { s_.enabled[id] = enabled; });
}

void FakeDialogWindow::SetProgressRange(int id, uint16_t maximum) {
  Logged("range " + std::to_string(id) + " " + std::to_string(maximum));
}

void FakeDialogWindow::SetProgressPos(int id, int position) {
  Logged("pos " + std::to_string(id) + " " + std::to_string(position),
         [&] { s_.positions[id] = position; });
}

int FakeDialogWindow::MessageBox(const std::string& text, const std::string& caption, uint32_t type,
                                 bool owned) {
  char typeText[16];
  std::snprintf(typeText, sizeof typeText, "0x%02X", type);
  Logged(
      std::string("box ") + (owned ? "owned " : "free ") + typeText + " " + caption + ": " + text,
      [&] {
        s_.boxes.push_back({text, caption, type, owned});
      });
  Guard guard(lock_);
  if (s_.answers.empty()) return platform::kIdOk;
  const int answer = s_.answers.front();
  s_.answers.pop_front();
  return answer;
}

int FakeDialogWindow::GetListSelection(int id) {
  return s_.selections.count(id) ? s_.selections[id] : platform::kNoSelection;
}

int FakeDialogWindow::RunModal(platform::DialogEvents& events) {
  ran = true;
  events.OnInitDialog();
  events.OnShowWindow(true);
  if (script) script(events);
  return endCode;
}

void FakeDialogWindow::Reset() {
  Guard guard(lock_);
  s_ = State();
  title.clear();
  hasPicture = ran = false;
  endCode = kStillOpen;
}

void FakeDialogWindow::Answer(int button) {
  Guard guard(lock_);
  s_.answers.push_back(button);
}

}  // namespace fakes
