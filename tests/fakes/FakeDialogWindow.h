// The main dialog's window in memory: the control fakes plus lists, picture and title, and a
// modal run that delivers the start-up events and then runs the test's script of presses.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/DialogWindow.h"
#include "tests/fakes/FakeDialogControls.h"

namespace fakes {

constexpr int kStillOpen = -99;

class FakeDialogWindow : public FakeDialogControls, public platform::DialogWindow {
 public:
  // The control operations go to the fake controls, which log them.
  void SetText(int id, const std::string& text) override { FakeDialogControls::SetText(id, text); }
  void Enable(int id, bool enabled) override { FakeDialogControls::Enable(id, enabled); }
  void SetProgressRange(int id, uint16_t maximum) override {
    FakeDialogControls::SetProgressRange(id, maximum);
  }
  void SetProgressPos(int id, int position) override {
    FakeDialogControls::SetProgressPos(id, position);
  }
  int MessageBox(const std::string& text, const std::string& caption, uint32_t type,
                 bool owned) override {
    return FakeDialogControls::MessageBox(text, caption, type, owned);
  }

  void AddListItem(int id, const std::string& item) override;
  void SetListSelection(int id, int index) override;
  int GetListSelection(int id) override;
  void SetPicture(int id, std::unique_ptr<platform::Bitmap> picture) override;
  void SetTitle(const std::string& title) override;
  int RunModal(platform::DialogEvents& events) override;
  void EndDialog(int code) override;

  /// Run inside RunModal after the start-up events, on the test's thread.
  std::function<void(platform::DialogEvents&)> script;

  std::vector<std::string> ListItems(int id) const;
  std::string title;
  bool hasPicture = false;
  int pictureWidth = 0;
  bool ran = false;
  int endCode = kStillOpen;

 private:
  std::map<int, std::vector<std::string>> lists_;
  std::map<int, int> selections_;
};

}  // namespace fakes
