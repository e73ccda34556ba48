// The main dialog as a window: template 101 run modally, its lists, picture and title, and
// the events it delivers to the program. The Windows back end is a real dialog box; the
// Linux one draws the same controls in a terminal.
#pragma once

#include <memory>
#include <string>

#include "platform/DialogControls.h"
#include "platform/Graphics.h"

namespace platform {

/// Dialog commands that end the dialog through the base dialog's own handling.
constexpr int kIdOkCommand = 1;      // Enter
constexpr int kIdCancelCommand = 2;  // Escape
/// CB_ERR: a list without a selection.
constexpr int kNoSelection = -1;

/// What the window tells the program, on the window's own thread.
class DialogEvents {
 public:
  virtual ~DialogEvents() = default;
  /// WM_INITDIALOG, after the controls exist; true lets the system set the focus.
  virtual bool OnInitDialog() = 0;
  /// BN_CLICKED of a button, or IDOK / IDCANCEL.
  virtual void OnCommand(int controlId) = 0;
  /// WM_SHOWWINDOW.
  virtual void OnShowWindow(bool show) = 0;
  /// WM_CLOSE; true lets the default handling end the dialog (as Cancel does).
  virtual bool OnClose() = 0;
};

class DialogWindow : public DialogControls {
 public:
  /// CB_ADDSTRING.
  virtual void AddListItem(int controlId, const std::string& item) = 0;
  /// CB_SETCURSEL.
  virtual void SetListSelection(int controlId, int index) = 0;
  /// CB_GETCURSEL; kNoSelection when nothing is selected.
  virtual int GetListSelection(int controlId) = 0;
  /// STM_SETIMAGE with a bitmap; the window keeps it while it shows it.
  virtual void SetPicture(int controlId, std::unique_ptr<Bitmap> picture) = 0;
  /// The dialog's title.
  virtual void SetTitle(const std::string& title) = 0;
  /// Creates the dialog from template 101 and runs it until EndDialog; its code.
  virtual int RunModal(DialogEvents& events) = 0;
  /// Ends the modal run with `code`.
  virtual void EndDialog(int code) = 0;
};

}  // namespace platform
