// The main dialog's template as stored in the resources, and the Windows dialog back end
// running it. The resources of the installer are linked into this test program, so the
// dialog comes from the same template as in the installer. Showing a dialog needs a
// desktop (under Wine an X server); without one these tests are skipped, or fail when
// INSTALLER_REQUIRE_DESKTOP is set.
#include "platform/win32/Win32Dialog.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "platform/Threads.h"
#include "platform/win32/Win32Bitmap.h"

namespace {

constexpr int kTemplate = 101;

/// Whether this process can make windows at all: Wine without an X server cannot.
bool DesktopAvailable() {
  static const bool available = [] {
    HWND probe = CreateWindowExA(0, "Static", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                 GetModuleHandleA(nullptr), nullptr);
    if (probe == nullptr) return false;
    DestroyWindow(probe);
    return true;
  }();
  return available;
}

/// Set (to anything) where a desktop must be there, as under xvfb-run: a missing desktop
/// then fails the dialog tests instead of skipping them.
bool DesktopRequired() {
  const char* required = std::getenv("INSTALLER_REQUIRE_DESKTOP");
  return required != nullptr && *required != '\0';
}

#define SKIP_WITHOUT_DESKTOP()                                            \
  do {                                                                    \
    if (!DesktopAvailable()) {                                            \
      if (DesktopRequired()) FAIL() << "no desktop to create windows on"; \
      GTEST_SKIP() << "no desktop to create windows on";                  \
    }                                                                     \
  } while (false)

// ---- The template table --------------------------------------------------------------

enum class Kind { GroupBox, PushButton, Progress, WhiteRect, Picture, ComboList, Label };

struct ControlRow {
  int id;
  Kind kind;
  const char* text;
  int x, y, width, height;
  bool visible;
  bool tabStop;
  bool group;
  bool border;
};

// The style bits each kind of control has in the template, besides WS_CHILD and the
// visible, tab-stop, group and border bits of its row.
DWORD KindStyle(Kind kind) {
  switch (kind) {
    case Kind::GroupBox:
      return BS_GROUPBOX;
    case Kind::PushButton:
      return BS_PUSHBUTTON;
    case Kind::Progress:
      return 0;
    case Kind::WhiteRect:
      return SS_WHITERECT | SS_SUNKEN;
    case Kind::Picture:
      return SS_BITMAP;
    case Kind::ComboList:
      return CBS_DROPDOWNLIST | CBS_AUTOHSCROLL | WS_VSCROLL;
    case Kind::Label:
      return SS_LEFT;
  }
  return 0;
}

// The controls in template order, with their places in dialog units.
const ControlRow kRows[] = {
    {1013, Kind::GroupBox, "Installation Status", 7, 122, 236, 27, true, false, false, false},
    {1012, Kind::GroupBox, "Installation Progress", 7, 90, 236, 27, true, false, false, false},
    {1001, Kind::Progress, "", 15, 100, 220, 10, true, false, false, true},
    {1003, Kind::PushButton, "Create &Floppy", 168, 162, 67, 15, true, true, false, false},
    {1005, Kind::PushButton, "&Create CD-ROM", 168, 194, 67, 15, true, true, false, false},
    {1004, Kind::PushButton, "&Exit", 92, 217, 65, 15, true, true, false, false},
    {-1, Kind::WhiteRect, "", 7, 7, 236, 73, true, false, false, false},
    {1011, Kind::Picture, "", 15, 15, 15, 13, true, false, false, false},
    {1018, Kind::GroupBox, "Floppy", 7, 154, 236, 27, true, false, false, false},
    {1017, Kind::GroupBox, "CD-ROM", 7, 186, 236, 27, true, false, false, false},
    {1015, Kind::ComboList, "", 15, 163, 142, 130, true, true, false, false},
    {1016, Kind::ComboList, "", 15, 195, 142, 130, true, true, false, false},
    {1002, Kind::Label, "", 15, 134, 220, 10, true, false, true, false},
    {1019, Kind::PushButton, ".img", 200, 218, 35, 12, false, true, false, false},
    {1021, Kind::PushButton, ".iso", 15, 218, 35, 12, false, true, false, false},
    {1006, Kind::PushButton, "Make &Bootable", 168, 194, 67, 15, false, true, false, false},
    {1023, Kind::ComboList, "", 15, 195, 142, 130, false, true, false, false},
    {1022, Kind::GroupBox, "Hard Disks", 7, 186, 236, 27, false, false, false, false},
};

const char* ClassOf(Kind kind) {
  switch (kind) {
    case Kind::GroupBox:
    case Kind::PushButton:
      return "Button";
    case Kind::Progress:
      return "msctls_progress32";
    case Kind::WhiteRect:
    case Kind::Picture:
    case Kind::Label:
      return "Static";
    case Kind::ComboList:
      return "ComboBox";
  }
  return "";
}

std::string WindowText(HWND window) {
  char text[256] = {};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

/// The window's rectangle in the client coordinates of `dialog`.
RECT RectInDialog(HWND control, HWND dialog) {
  RECT rect;
  GetWindowRect(control, &rect);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

// ---- The template as stored in the resources ------------------------------------------

// Reads a DIALOG (not DIALOGEX) template: the header, then the items on 4-byte bounds.
class TemplateReader {
 public:
  TemplateReader(const uint8_t* bytes, size_t size) : start_(bytes), size_(size) {}

  bool ok() const { return ok_; }
  DWORD Dword() {
    const DWORD low = Word();
    return low | (static_cast<DWORD>(Word()) << 16);
  }
  WORD Word() {
    if (at_ + 2 > size_) {
      ok_ = false;
      return 0;
    }
    const WORD value = static_cast<WORD>(start_[at_] | (start_[at_ + 1] << 8));
    at_ += 2;
    return value;
  }
  short Short() { return static_cast<short>(Word()); }
  /// A zero-terminated UTF-16 text of plain ASCII characters.
  std::string Text() {
    std::string text;
    for (WORD unit = Word(); ok_ && unit != 0; unit = Word()) {
      text.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
    }
    return text;
  }
  /// A name or a number: 0xFFFF followed by the number, or a text. Numbers come back as
  /// "#n".
  std::string NameOrNumber() {
    if (at_ + 2 <= size_ && start_[at_] == 0xFF && start_[at_ + 1] == 0xFF) {
      Word();
      return "#" + std::to_string(Word());
    }
    return Text();
  }
  void AlignToDword() { at_ = (at_ + 3) & ~static_cast<size_t>(3); }
  void Skip(size_t bytes) {
    at_ += bytes;
    if (at_ > size_) ok_ = false;
  }

 private:
  const uint8_t* start_;
  size_t size_;
  size_t at_ = 0;
  bool ok_ = true;
};

// The predefined classes that a template names by number.
std::string TemplateClassName(const std::string& stored) {
  if (stored == "#128") return "Button";
  if (stored == "#130") return "Static";
  if (stored == "#133") return "ComboBox";
  return stored;
}

TEST(DialogTemplateResourceTest, TemplateHoldsTheDialogAndEveryControlExactly) {
  HMODULE module = GetModuleHandleA(nullptr);
  HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(kTemplate), MAKEINTRESOURCEA(5));
  ASSERT_NE(found, nullptr) << "no dialog 101 in the resources";
  const auto* bytes = static_cast<const uint8_t*>(LockResource(LoadResource(module, found)));
  ASSERT_NE(bytes, nullptr);
  TemplateReader reader(bytes, SizeofResource(module, found));

  const DWORD style = reader.Dword();
  ASSERT_NE(style, 0xFFFF0001u) << "an extended template";
  EXPECT_EQ(style,
            static_cast<DWORD>(DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_SETFONT));
  EXPECT_EQ(reader.Dword(), 0u);  // extended style
  const WORD count = reader.Word();
  EXPECT_EQ(count, std::size(kRows));
  EXPECT_EQ(reader.Short(), 0);
  EXPECT_EQ(reader.Short(), 0);
  EXPECT_EQ(reader.Short(), 250);
  EXPECT_EQ(reader.Short(), 239);
  EXPECT_EQ(reader.NameOrNumber(), "");  // no menu
  EXPECT_EQ(reader.NameOrNumber(), "");  // the system's dialog class
  EXPECT_EQ(reader.Text(), "");          // the caption
  EXPECT_EQ(reader.Word(), 8);
  EXPECT_EQ(reader.Text(), "MS Sans Serif");
  ASSERT_TRUE(reader.ok());

  for (size_t i = 0; i < count && i < std::size(kRows); ++i) {
    const ControlRow& row = kRows[i];
    SCOPED_TRACE("item " + std::to_string(i) + ", control " + std::to_string(row.id));
    reader.AlignToDword();
    const DWORD itemStyle = reader.Dword();
    const DWORD expected = WS_CHILD | (row.visible ? WS_VISIBLE : 0) |
                           (row.tabStop ? WS_TABSTOP : 0) | (row.group ? WS_GROUP : 0) |
                           (row.border ? WS_BORDER : 0) | KindStyle(row.kind);
    EXPECT_EQ(itemStyle, expected) << std::hex << itemStyle << " " << expected;
    EXPECT_EQ(reader.Dword(), 0u);  // extended style
    EXPECT_EQ(reader.Short(), row.x);
    EXPECT_EQ(reader.Short(), row.y);
    EXPECT_EQ(reader.Short(), row.width);
    EXPECT_EQ(reader.Short(), row.height);
    EXPECT_EQ(reader.Word(), static_cast<WORD>(row.id));
    EXPECT_EQ(lstrcmpiA(TemplateClassName(reader.NameOrNumber()).c_str(), ClassOf(row.kind)), 0);
    EXPECT_EQ(reader.NameOrNumber(), row.text);
    reader.Skip(reader.Word());  // creation data
    ASSERT_TRUE(reader.ok());
  }
}

// ---- The dialog back end -------------------------------------------------------------

// DialogEvents whose handlers are set by each test. Every event is logged.
class ScriptedEvents : public platform::DialogEvents {
 public:
  std::function<bool()> onInit = [] { return true; };
  // The modal loop shows the dialog once its queue is first empty; a test that acts as
  // the user does starts here.
  std::function<void()> onShown = [] {};
  std::function<void(int)> onCommand = [](int) {};
  std::function<bool()> onClose = [] { return true; };

  bool OnInitDialog() override {
    log.push_back("init");
    return onInit();
  }
  void OnCommand(int controlId) override {
    log.push_back("command " + std::to_string(controlId));
    onCommand(controlId);
  }
  void OnShowWindow(bool show) override {
    log.push_back(show ? "show" : "hide");
    if (show) onShown();
  }
  bool OnClose() override {
    log.push_back("close");
    return onClose();
  }

  std::vector<std::string> log;
};

// The log without a last "hide": ending the dialog takes it off the screen, and whether
// that comes as WM_SHOWWINDOW is the system's choice (Wine hides the window without it).
std::vector<std::string> WithoutClosingHide(std::vector<std::string> log) {
  if (!log.empty() && log.back() == "hide") log.pop_back();
  return log;
}

// A thread of the system's own, joined when the object goes.
class Thread {
 public:
  explicit Thread(std::function<void()> body)
      : body_(std::move(body)), handle_(CreateThread(nullptr, 0, &Run, this, 0, nullptr)) {}
  ~Thread() { Join(); }
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;
  void Join() {
    if (handle_ == nullptr) return;
    WaitForSingleObject(handle_, INFINITE);
    CloseHandle(handle_);
    handle_ = nullptr;
  }

 private:
  static DWORD WINAPI Run(void* self) {
    static_cast<Thread*>(self)->body_();
    return 0;
  }
  std::function<void()> body_;
  HANDLE handle_;
};

// Ends a dialog that the test fails to end itself, so that a broken run fails instead of
// hanging: after the time-out it ends the dialog with a code no test expects.
class Watchdog {
 public:
  explicit Watchdog(platform::DialogWindow& dialog)
      : finished_(CreateEventA(nullptr, TRUE, FALSE, nullptr)), thread_([this, &dialog] {
          if (WaitForSingleObject(finished_, kTimeoutMs) == WAIT_TIMEOUT)
            dialog.EndDialog(kTimedOut);
        }) {}
  ~Watchdog() {
    SetEvent(finished_);
    thread_.Join();
    CloseHandle(finished_);
  }
  static constexpr int kTimedOut = -7777;

 private:
  static constexpr DWORD kTimeoutMs = 20000;
  HANDLE finished_;
  Thread thread_;
};

class Win32DialogTest : public ::testing::Test {
 protected:
  void SetUp() override { SKIP_WITHOUT_DESKTOP(); }

  platform::Win32Dialog dialog_{GetModuleHandleA(nullptr)};
};

LRESULT Send(HWND dialog, int id, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
  return SendDlgItemMessageA(dialog, id, message, wParam, lParam);
}

std::string ItemText(HWND dialog, int id) {
  char text[256] = {};
  GetDlgItemTextA(dialog, id, text, sizeof text);
  return text;
}

std::unique_ptr<platform::Win32Bitmap> MakeBitmap(int width, int height) {
  HDC screen = GetDC(nullptr);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  ReleaseDC(nullptr, screen);
  return std::make_unique<platform::Win32Bitmap>(bitmap, width, height);
}

// The calls of a monitor thread, made while the dialog's thread runs its loop; the
// dialog's thread then reads the controls back in a command, and the end comes after it.
TEST_F(Win32DialogTest, AnotherThreadSetsTheControlsAndEndsTheDialog) {
  ScriptedEvents events;
  std::unique_ptr<Thread> worker;
  std::atomic<int> selectionSeenByWorker{-2};
  std::atomic<HBITMAP> pictureFromWorker{nullptr};
  struct Seen {
    std::string title, status, button;
    LRESULT floppyCount = -1, recorders = -1, progressPos = -1, progressMax = -1;
    int floppySelection = -2;
    bool floppyEnabled = true;
    HBITMAP picture = nullptr;
    LONG pictureWidth = 0, pictureHeight = 0;
    HWND dialogWindow = nullptr;
  } seen;

  events.onInit = [&] {
    for (const char* drive : {"A:", "B:", "C:"}) dialog_.AddListItem(1015, drive);
    const HWND window = dialog_.window();
    worker = std::make_unique<Thread>([&, window] {
      dialog_.SetTitle("Another thread's title");
      dialog_.SetText(1002, "Written by another thread");
      dialog_.SetText(1004, "&Leave");
      dialog_.Enable(1003, false);
      dialog_.SetProgressRange(1001, 1000);
      dialog_.SetProgressPos(1001, 999);
      dialog_.AddListItem(1016, "One");
      dialog_.AddListItem(1016, "Two");
      dialog_.SetListSelection(1016, 1);
      auto picture = MakeBitmap(40, 30);
      pictureFromWorker = picture->handle();
      dialog_.SetPicture(1011, std::move(picture));
      selectionSeenByWorker = dialog_.GetListSelection(1016);
      PostMessageA(window, WM_COMMAND, MAKEWPARAM(1005, BN_CLICKED), 0);
      dialog_.EndDialog(77);
    });
    return true;
  };
  events.onCommand = [&](int id) {
    if (id != 1005) return;
    const HWND window = dialog_.window();
    seen.dialogWindow = window;
    seen.title = WindowText(window);
    seen.status = ItemText(window, 1002);
    seen.button = ItemText(window, 1004);
    seen.floppyEnabled = IsWindowEnabled(GetDlgItem(window, 1003)) != FALSE;
    seen.floppyCount = Send(window, 1015, CB_GETCOUNT);
    seen.recorders = Send(window, 1016, CB_GETCOUNT);
    seen.floppySelection = dialog_.GetListSelection(1015);
    seen.progressPos = Send(window, 1001, PBM_GETPOS);
    seen.progressMax = Send(window, 1001, PBM_GETRANGE, FALSE);
    seen.picture = reinterpret_cast<HBITMAP>(Send(window, 1011, STM_GETIMAGE, IMAGE_BITMAP));
    const RECT place = RectInDialog(GetDlgItem(window, 1011), window);
    seen.pictureWidth = place.right - place.left;
    seen.pictureHeight = place.bottom - place.top;
  };

  int code = 0;
  {
    Watchdog watchdog(dialog_);
    code = dialog_.RunModal(events);
  }
  worker.reset();
  EXPECT_EQ(code, 77);
  EXPECT_EQ(seen.title, "Another thread's title");
  EXPECT_EQ(seen.status, "Written by another thread");
  EXPECT_EQ(seen.button, "&Leave");
  EXPECT_FALSE(seen.floppyEnabled);
  EXPECT_EQ(seen.floppyCount, 3);
  EXPECT_EQ(seen.recorders, 2);
  EXPECT_EQ(seen.floppySelection, platform::kNoSelection);  // items, but none selected
  EXPECT_EQ(selectionSeenByWorker.load(), 1);
  EXPECT_EQ(seen.progressPos, 999);
  EXPECT_EQ(seen.progressMax, 1000);
  EXPECT_NE(seen.picture, nullptr);
  EXPECT_EQ(seen.picture, pictureFromWorker.load());
  // The picture control grows to its bitmap.
  EXPECT_EQ(seen.pictureWidth, 40);
  EXPECT_EQ(seen.pictureHeight, 30);
  // The run is over: the window is gone, and changes reach nothing.
  EXPECT_EQ(dialog_.window(), nullptr);
  EXPECT_FALSE(IsWindow(seen.dialogWindow));
  dialog_.SetText(1002, "after the run");
  EXPECT_EQ(dialog_.GetListSelection(1015), platform::kNoSelection);
}

TEST_F(Win32DialogTest, EscapeGivesCancelAndCloseEndsOnlyWhenTheProgramAgrees) {
  ScriptedEvents events;
  int closes = 0;
  events.onShown = [&] {
    // Escape pressed in the dialog.
    PostMessageA(dialog_.window(), WM_KEYDOWN, VK_ESCAPE, 0);
  };
  events.onCommand = [&](int id) {
    // The first close is refused, the second accepted.
    if (id == platform::kIdCancelCommand) PostMessageA(dialog_.window(), WM_CLOSE, 0, 0);
  };
  events.onClose = [&] {
    if (++closes == 1) {
      PostMessageA(dialog_.window(), WM_CLOSE, 0, 0);
      return false;
    }
    return true;
  };

  Watchdog watchdog(dialog_);
  EXPECT_EQ(dialog_.RunModal(events), platform::kIdCancelCommand);
  const std::vector<std::string> expectedLog = {"init", "show", "command 2", "close", "close"};
  EXPECT_EQ(WithoutClosingHide(events.log), expectedLog);
}

// Closes the message box with `caption` once it shows, pressing `button`, and notes the
// box's owner and text.
class MessageBoxCloser {
 public:
  MessageBoxCloser(std::string caption, int button)
      : thread_([this, caption, button] {
          for (int tries = 0; tries < kTries; ++tries) {
            HWND box = FindWindowA("#32770", caption.c_str());
            if (box != nullptr && IsWindowVisible(box)) {
              owner = GetWindow(box, GW_OWNER);
              // The message box's text is its static control 0xFFFF.
              text = ItemText(box, 0xFFFF);
              PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
              found = true;
              return;
            }
            Sleep(kPollMs);
          }
        }) {}
  void Join() { thread_.Join(); }

  HWND owner = nullptr;
  std::string text;
  bool found = false;

 private:
  static constexpr int kPollMs = 20;
  static constexpr int kTries = 1000;  // 20 seconds
  Thread thread_;
};

TEST_F(Win32DialogTest, MessageBoxIsOwnedByTheDialogOnlyWhileItRunsAndWhenAsked) {
  {
    MessageBoxCloser closer("Box before the dialog", IDCANCEL);
    const int answer =
        dialog_.MessageBox("Nothing to show yet.", "Box before the dialog",
                           platform::kMbOkCancel | platform::kMbIconError, /*ownedByDialog=*/true);
    closer.Join();
    ASSERT_TRUE(closer.found);
    EXPECT_EQ(answer, platform::kIdCancel);
    EXPECT_EQ(closer.owner, nullptr);
    EXPECT_EQ(closer.text, "Nothing to show yet.");
  }

  ScriptedEvents events;
  HWND dialogWindow = nullptr;
  HWND ownerAsked = reinterpret_cast<HWND>(1);
  HWND ownerNotAsked = reinterpret_cast<HWND>(1);
  int answerAsked = 0;
  int answerNotAsked = 0;
  events.onShown = [&] {
    PostMessageA(dialog_.window(), WM_COMMAND, MAKEWPARAM(1003, BN_CLICKED), 0);
  };
  events.onCommand = [&](int id) {
    if (id != 1003) return;
    dialogWindow = dialog_.window();
    {
      MessageBoxCloser closer("Owned box", IDOK);
      answerAsked = dialog_.MessageBox("Owned.", "Owned box", platform::kMbOkCancel, true);
      closer.Join();
      ownerAsked = closer.owner;
    }
    {
      MessageBoxCloser closer("Free box", IDCANCEL);
      answerNotAsked = dialog_.MessageBox("Free.", "Free box", platform::kMbOkCancel, false);
      closer.Join();
      ownerNotAsked = closer.owner;
    }
    dialog_.EndDialog(5);
  };

  Watchdog watchdog(dialog_);
  EXPECT_EQ(dialog_.RunModal(events), 5);
  EXPECT_EQ(answerAsked, platform::kIdOk);
  EXPECT_EQ(ownerAsked, dialogWindow);
  EXPECT_EQ(answerNotAsked, platform::kIdCancel);
  EXPECT_EQ(ownerNotAsked, nullptr);
}

}  // namespace
