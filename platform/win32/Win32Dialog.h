// The main dialog on Windows: dialog template 101 of the program's resources, run as a
// modal dialog box. Its controls are changed by messages sent to the dialog's windows, so
// the jobs' threads can change them while the dialog's thread runs its message loop.
#pragma once

#include <windows.h>

// winuser.h renames MessageBox to MessageBoxA; the DialogControls method keeps its own
// name in every file that sees this header. Include this header before any other that
// declares the dialog classes.
#undef MessageBox

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/DialogWindow.h"

namespace platform {

/// The template of the main dialog in the program's resources.
constexpr int kMainDialogTemplate = 101;

class Win32Dialog : public DialogWindow {
 public:
  /// `instance` is the module whose resources hold the dialog template.
  explicit Win32Dialog(HINSTANCE instance);
  ~Win32Dialog() override;
  Win32Dialog(const Win32Dialog&) = delete;
  Win32Dialog& operator=(const Win32Dialog&) = delete;

  void SetText(int controlId, const std::string& text) override;
  void Enable(int controlId, bool enabled) override;
  void SetProgressRange(int controlId, uint16_t maximum) override;
  void SetProgressPos(int controlId, int position) override;
  int MessageBox(const std::string& text, const std::string& caption, uint32_t type,
                 bool ownedByDialog) override;

  void AddListItem(int controlId, const std::string& item) override;
  void SetListSelection(int controlId, int index) override;
  int GetListSelection(int controlId) override;
  void SetPicture(int controlId, std::unique_ptr<Bitmap> picture) override;
  void SetTitle(const std::string& title) override;
  int RunModal(DialogEvents& events) override;
  void EndDialog(int code) override;

  /// The dialog's window while it runs; null before and after.
  HWND window() const { return window_.load(); }

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT SendToControl(int controlId, UINT message, WPARAM wParam, LPARAM lParam);
  void ShowPicture(int controlId, std::unique_ptr<Bitmap> picture);

  struct PictureRequest {
    int controlId;
    std::unique_ptr<Bitmap> picture;
  };

  HINSTANCE instance_;
  DialogEvents* events_ = nullptr;
  std::atomic<HWND> window_{nullptr};
  // The picture shown in the dialog; the static control only borrows its bitmap, which is
  // deleted when another picture replaces it or this object goes. Changed only by the
  // dialog's thread while the dialog runs.
  std::unique_ptr<Bitmap> picture_;
};

std::unique_ptr<DialogWindow> MakeWin32Dialog(HINSTANCE instance);

}  // namespace platform
