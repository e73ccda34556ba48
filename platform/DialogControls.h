// The main dialog's controls as the jobs and monitors drive them: by control id, from any
// thread. The implementations route each change to the thread that owns the window.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

/// Message box types and answers, with the Windows values.
constexpr uint32_t kMbOk = 0x00;
constexpr uint32_t kMbOkCancel = 0x01;
constexpr uint32_t kMbIconError = 0x10;
constexpr uint32_t kMbIconExclamation = 0x30;
constexpr uint32_t kMbIconInformation = 0x40;
constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;

class DialogControls {
 public:
  virtual ~DialogControls() = default;
  /// SetWindowText on a control (a label, a button, the status line).
  virtual void SetText(int controlId, const std::string& text) = 0;
  /// EnableWindow.
  virtual void Enable(int controlId, bool enabled) = 0;
  /// A progress bar's range, 0 to `maximum` (PBM_SETRANGE takes 16 bits).
  virtual void SetProgressRange(int controlId, uint16_t maximum) = 0;
  /// A progress bar's position (PBM_SETPOS).
  virtual void SetProgressPos(int controlId, int position) = 0;
  /// MessageBoxA; `ownedByDialog` false gives the box no owner window. Returns the button.
  virtual int MessageBox(const std::string& text, const std::string& caption, uint32_t type,
                         bool ownedByDialog) = 0;
};

}  // namespace platform
