// The main dialog as a Windows dialog box.
//
// Every change to a control is a message sent to that control (SendMessage or one of the
// calls built on it). A message sent from another thread is delivered by the dialog's own
// thread inside its message loop, so the monitors' threads may call these methods while
// the dialog runs: the controls themselves only ever run on the dialog's thread.
#include "platform/win32/Win32Dialog.h"

#include <commctrl.h>

#include "platform/win32/Win32Bitmap.h"

namespace platform {

namespace {

// Posted by EndDialog from a thread that does not own the dialog: ::EndDialog is meant for
// the dialog's own thread, so that thread is asked to call it. Posted rather than sent, so
// a caller never waits for a dialog thread that may be waiting for it.
constexpr UINT kEndDialogMessage = WM_APP + 1;

// Sent by SetPicture from a thread that does not own the dialog, with a PictureRequest.
constexpr UINT kSetPictureMessage = WM_APP + 2;

}  // namespace

Win32Dialog::Win32Dialog(HINSTANCE instance) : instance_(instance) {}

Win32Dialog::~Win32Dialog() = default;

LRESULT Win32Dialog::SendToControl(int controlId, UINT message, WPARAM wParam, LPARAM lParam) {
  const HWND dialog = window_.load();
  if (dialog == nullptr) return 0;
  return SendDlgItemMessageA(dialog, controlId, message, wParam, lParam);
}

void Win32Dialog::SetText(int controlId, const std::string& text) {
  const HWND dialog = window_.load();
  if (dialog != nullptr) SetDlgItemTextA(dialog, controlId, text.c_str());
}

void Win32Dialog::Enable(int controlId, bool enabled) {
  const HWND dialog = window_.load();
  if (dialog == nullptr) return;
  const HWND control = GetDlgItem(dialog, controlId);
  if (control != nullptr) EnableWindow(control, enabled ? TRUE : FALSE);
}

void Win32Dialog::SetProgressRange(int controlId, uint16_t maximum) {
  SendToControl(controlId, PBM_SETRANGE, 0, MAKELPARAM(0, maximum));
}

void Win32Dialog::SetProgressPos(int controlId, int position) {
  SendToControl(controlId, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

int Win32Dialog::MessageBox(const std::string& text, const std::string& caption, uint32_t type,
                            bool ownedByDialog) {
  // Without the dialog (before it exists, or not asked for) the box has no owner.
  const HWND owner = ownedByDialog ? window_.load() : nullptr;
  return MessageBoxA(owner, text.c_str(), caption.c_str(), type);
}

void Win32Dialog::AddListItem(int controlId, const std::string& item) {
  SendToControl(controlId, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
}

void Win32Dialog::SetListSelection(int controlId, int index) {
  SendToControl(controlId, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

int Win32Dialog::GetListSelection(int controlId) {
  if (window_.load() == nullptr) return kNoSelection;
  const LRESULT selection = SendToControl(controlId, CB_GETCURSEL, 0, 0);
  return selection == CB_ERR ? kNoSelection : static_cast<int>(selection);
}

void Win32Dialog::SetPicture(int controlId, std::unique_ptr<Bitmap> picture) {
  const HWND dialog = window_.load();
  if (dialog != nullptr && GetWindowThreadProcessId(dialog, nullptr) != GetCurrentThreadId()) {
    // The dialog's thread takes the picture over, so that only it ever swaps the picture
    // the control shows. Should the window be gone, the picture is freed here.
    PictureRequest request{controlId, std::move(picture)};
    SendMessageA(dialog, kSetPictureMessage, 0, reinterpret_cast<LPARAM>(&request));
    return;
  }
  ShowPicture(controlId, std::move(picture));
}

void Win32Dialog::ShowPicture(int controlId, std::unique_ptr<Bitmap> picture) {
  const auto* bitmap = dynamic_cast<const Win32Bitmap*>(picture.get());
  const HBITMAP handle = bitmap != nullptr ? bitmap->handle() : nullptr;
  SendToControl(controlId, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(handle));
  // The control now shows the new bitmap, so the one it showed before may go.
  picture_ = std::move(picture);
}

void Win32Dialog::SetTitle(const std::string& title) {
  const HWND dialog = window_.load();
  if (dialog != nullptr) SetWindowTextA(dialog, title.c_str());
}

int Win32Dialog::RunModal(DialogEvents& events) {
  // Registers the progress bar's class. InitCommonControlsEx would need comctl32 4.70,
  // which the first Windows 95 does not ship.
  InitCommonControls();
  events_ = &events;
  const INT_PTR result = DialogBoxParamA(instance_, MAKEINTRESOURCEA(kMainDialogTemplate), nullptr,
                                         &Win32Dialog::DialogProc, reinterpret_cast<LPARAM>(this));
  window_.store(nullptr);
  events_ = nullptr;
  return static_cast<int>(result);
}

void Win32Dialog::EndDialog(int code) {
  const HWND dialog = window_.load();
  if (dialog == nullptr) return;
  if (GetWindowThreadProcessId(dialog, nullptr) == GetCurrentThreadId()) {
    ::EndDialog(dialog, code);
  } else {
    PostMessageA(dialog, kEndDialogMessage, static_cast<WPARAM>(code), 0);
  }
}

INT_PTR CALLBACK Win32Dialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrA(window, DWLP_USER, lParam);
  }
  auto* self = reinterpret_cast<Win32Dialog*>(GetWindowLongPtrA(window, DWLP_USER));
  // Messages that come before WM_INITDIALOG (the font, the frame) get the default handling.
  if (self == nullptr) return FALSE;
  return self->HandleMessage(window, message, wParam, lParam);
}

INT_PTR Win32Dialog::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      window_.store(window);
      return events_->OnInitDialog() ? TRUE : FALSE;
    case WM_COMMAND:
      // Button clicks; Enter and Escape arrive the same way as IDOK and IDCANCEL. The
      // lists' notifications have other codes and are left alone.
      if (HIWORD(wParam) != BN_CLICKED) return FALSE;
      events_->OnCommand(LOWORD(wParam));
      return TRUE;
    case WM_SHOWWINDOW:
      events_->OnShowWindow(wParam != 0);
      return FALSE;
    case WM_CLOSE:
      // Handled here in every case: the default handling would turn it into IDCANCEL.
      if (events_->OnClose()) ::EndDialog(window, IDCANCEL);
      return TRUE;
    case WM_DESTROY:
      // From here on the other threads' calls find no window and do nothing.
      window_.store(nullptr);
      return FALSE;
    case kEndDialogMessage:
      ::EndDialog(window, static_cast<INT_PTR>(wParam));
      return TRUE;
    case kSetPictureMessage: {
      auto* request = reinterpret_cast<PictureRequest*>(lParam);
      ShowPicture(request->controlId, std::move(request->picture));
      return TRUE;
    }
    default:
      return FALSE;
  }
}

std::unique_ptr<DialogWindow> MakeWin32Dialog(HINSTANCE instance) {
  return std::make_unique<Win32Dialog>(instance);
}

}  // namespace platform
