// The main dialog's template as the system builds it, and the Windows dialog back end
// running it. The resources of the installer are linked into this test program, so the
// dialog comes from the same template as in the installer. Showing a dialog needs a
// desktop (under Wine an X server); without one these tests are skipped, or fail when
// INSTALLER_REQUIRE_DESKTOP is set.
#include "platform/win32/Win32Dialog.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
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
// Which parts of the window's rectangle follow the template: a picture grows to its
// bitmap, and a drop-down list's height in the template is that of its open list.
enum class Extent { Whole, PositionOnly, NoHeight };

struct ControlRow {
  int id;
  Kind kind;
  const char* text;
  int x, y, width, height;
  bool visible;
  bool tabStop;
  bool group;
  bool border;
  Extent extent;
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
    {1013, Kind::GroupBox, "Installation Status", 7, 122, 236, 27, true, false, false, false,
     Extent::Whole},
    {1012, Kind::GroupBox, "Installation Progress", 7, 90, 236, 27, true, false, false, false,
     Extent::Whole},
    {1001, Kind::Progress, "", 15, 100, 220, 10, true, false, false, true, Extent::Whole},
    {1003, Kind::PushButton, "Create &Floppy", 168, 162, 67, 15, true, true, false, false,
     Extent::Whole},
    {1005, Kind::PushButton, "&Create CD-ROM", 168, 194, 67, 15, true, true, false, false,
     Extent::Whole},
    {1004, Kind::PushButton, "&Exit", 92, 217, 65, 15, true, true, false, false, Extent::Whole},
    {-1, Kind::WhiteRect, "", 7, 7, 236, 73, true, false, false, false, Extent::Whole},
    {1011, Kind::Picture, "", 15, 15, 15, 13, true, false, false, false, Extent::PositionOnly},
    {1018, Kind::GroupBox, "Floppy", 7, 154, 236, 27, true, false, false, false, Extent::Whole},
    {1017, Kind::GroupBox, "CD-ROM", 7, 186, 236, 27, true, false, false, false, Extent::Whole},
    {1015, Kind::ComboList, "", 15, 163, 142, 130, true, true, false, false, Extent::NoHeight},
    {1016, Kind::ComboList, "", 15, 195, 142, 130, true, true, false, false, Extent::NoHeight},
    {1002, Kind::Label, "", 15, 134, 220, 10, true, false, true, false, Extent::Whole},
    {1019, Kind::PushButton, ".img", 200, 218, 35, 12, false, true, false, false, Extent::Whole},
    {1021, Kind::PushButton, ".iso", 15, 218, 35, 12, false, true, false, false, Extent::Whole},
    {1006, Kind::PushButton, "Make &Bootable", 168, 194, 67, 15, false, true, false, false,
     Extent::Whole},
    {1023, Kind::ComboList, "", 15, 195, 142, 130, false, true, false, false, Extent::NoHeight},
    {1022, Kind::GroupBox, "Hard Disks", 7, 186, 236, 27, false, false, false, false,
     Extent::Whole},
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

std::string ClassName(HWND window) {
  char name[64] = {};
  GetClassNameA(window, name, sizeof name);
  return name;
}

/// The window's rectangle in the client coordinates of `dialog`.
RECT RectInDialog(HWND control, HWND dialog) {
  RECT rect;
  GetWindowRect(control, &rect);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

/// The control ids of the dialog's children, first to last.
std::vector<int> ChildIds(HWND dialog) {
  std::vector<int> ids;
  for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    ids.push_back(static_cast<WORD>(GetDlgCtrlID(child)));
  }
  return ids;
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

INT_PTR CALLBACK PlainDialogProc(HWND, UINT message, WPARAM, LPARAM) {
  return message == WM_INITDIALOG ? TRUE : FALSE;
}

/// The template created as a hidden, modeless dialog.
class DialogTemplateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_DESKTOP();
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_PROGRESS_CLASS};
    ASSERT_TRUE(InitCommonControlsEx(&classes));
    dialog_ = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(kTemplate), nullptr,
                                 &PlainDialogProc, 0);
    ASSERT_NE(dialog_, nullptr) << "error " << GetLastError();
  }
  void TearDown() override {
    if (dialog_ != nullptr) DestroyWindow(dialog_);
  }

  HWND dialog_ = nullptr;
};

TEST_F(DialogTemplateTest, DialogIsACaptionedModalPopUpOfTheTemplateSizeAndStaysHidden) {
  const LONG style = GetWindowLongA(dialog_, GWL_STYLE);
  EXPECT_TRUE(style & WS_POPUP);
  EXPECT_EQ(style & WS_CAPTION, WS_CAPTION);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_TRUE(style & DS_MODALFRAME);
  EXPECT_TRUE(style & DS_SETFONT);
  EXPECT_FALSE(style & WS_VISIBLE);
  EXPECT_FALSE(IsWindowVisible(dialog_));
  EXPECT_EQ(WindowText(dialog_), "");
  // A modal frame is a dialog frame.
  EXPECT_TRUE(GetWindowLongA(dialog_, GWL_EXSTYLE) & WS_EX_DLGMODALFRAME);

  RECT expected = {0, 0, 250, 239};
  ASSERT_TRUE(MapDialogRect(dialog_, &expected));
  RECT client;
  ASSERT_TRUE(GetClientRect(dialog_, &client));
  EXPECT_EQ(client.right, expected.right);
  EXPECT_EQ(client.bottom, expected.bottom);
}

TEST_F(DialogTemplateTest, EveryControlHasItsClassStylesTextAndPlace) {
  for (const ControlRow& row : kRows) {
    SCOPED_TRACE("control " + std::to_string(row.id));
    HWND control = nullptr;
    if (row.id == -1) {
      // The white rectangle has no id of its own: it is found by its place in the order.
      control = GetWindow(dialog_, GW_CHILD);
      for (int i = 0; control != nullptr && kRows[i].id != -1; ++i) {
        control = GetWindow(control, GW_HWNDNEXT);
      }
      ASSERT_NE(control, nullptr);
      EXPECT_EQ(static_cast<WORD>(GetDlgCtrlID(control)), 0xFFFF);
    } else {
      control = GetDlgItem(dialog_, row.id);
      ASSERT_NE(control, nullptr);
    }

    EXPECT_EQ(lstrcmpiA(ClassName(control).c_str(), ClassOf(row.kind)), 0) << ClassName(control);
    const LONG style = GetWindowLongA(control, GWL_STYLE);
    const LONG exStyle = GetWindowLongA(control, GWL_EXSTYLE);
    EXPECT_TRUE(style & WS_CHILD);
    EXPECT_FALSE(exStyle & WS_EX_CLIENTEDGE);
    EXPECT_EQ((style & WS_VISIBLE) != 0, row.visible);
    EXPECT_EQ((style & WS_TABSTOP) != 0, row.tabStop);
    EXPECT_EQ((style & WS_GROUP) != 0, row.group);
    // A bordered control does not keep its WS_BORDER: the dialog manager turns it into a
    // client edge, which the progress bar then trades for its own (under a visual style,
    // none). The template test above checks the bit where it is stored.
    EXPECT_FALSE(style & WS_BORDER) << std::hex << style << " " << exStyle;
    EXPECT_EQ(WindowText(control), row.text);

    switch (row.kind) {
      case Kind::GroupBox:
        EXPECT_EQ(style & BS_TYPEMASK, BS_GROUPBOX);
        break;
      case Kind::PushButton:
        // The dialog manager marks the button with the focus as the default one.
        EXPECT_TRUE((style & BS_TYPEMASK) == BS_PUSHBUTTON ||
                    (style & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
            << (style & BS_TYPEMASK);
        break;
      case Kind::WhiteRect:
        EXPECT_EQ(style & SS_TYPEMASK, SS_WHITERECT);
        EXPECT_TRUE(style & SS_SUNKEN);
        break;
      case Kind::Picture:
        EXPECT_EQ(style & SS_TYPEMASK, SS_BITMAP);
        break;
      case Kind::Label:
        EXPECT_EQ(style & SS_TYPEMASK, SS_LEFT);
        break;
      case Kind::ComboList: {
        EXPECT_EQ(style & 3, CBS_DROPDOWNLIST);
        EXPECT_TRUE(style & CBS_AUTOHSCROLL);
        // The box hands its vertical scroll bar to the list that drops down, which shows
        // it once it holds more items than fit.
        COMBOBOXINFO parts = {};
        parts.cbSize = sizeof parts;
        ASSERT_TRUE(GetComboBoxInfo(control, &parts));
        EXPECT_FALSE(GetWindowLongA(parts.hwndList, GWL_STYLE) & WS_VSCROLL);
        for (int item = 0; item < 40; ++item) {
          SendMessageA(control, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("item"));
        }
        EXPECT_TRUE(GetWindowLongA(parts.hwndList, GWL_STYLE) & WS_VSCROLL);
        break;
      }
      case Kind::Progress:
        break;
    }

    // The dialog manager converts the place and the size each on its own, so the
    // rectangle is mapped as left, top, width, height rather than by its corners.
    RECT expected = {row.x, row.y, row.width, row.height};
    ASSERT_TRUE(MapDialogRect(dialog_, &expected));
    const RECT actual = RectInDialog(control, dialog_);
    EXPECT_EQ(actual.left, expected.left);
    EXPECT_EQ(actual.top, expected.top);
    if (row.extent != Extent::PositionOnly) {
      EXPECT_EQ(actual.right - actual.left, expected.right);
    }
    if (row.extent == Extent::Whole) {
      EXPECT_EQ(actual.bottom - actual.top, expected.bottom);
    }
  }
}

TEST_F(DialogTemplateTest, ControlsComeInTemplateOrder) {
  std::vector<int> expected;
  for (const ControlRow& row : kRows) expected.push_back(static_cast<WORD>(row.id));
  EXPECT_EQ(ChildIds(dialog_), expected);
}

TEST_F(DialogTemplateTest, DialogUsesEightPointMsSansSerif) {
  const auto font = reinterpret_cast<HFONT>(SendMessageA(dialog_, WM_GETFONT, 0, 0));
  ASSERT_NE(font, nullptr);
  LOGFONTA logical = {};
  ASSERT_EQ(GetObjectA(font, sizeof logical, &logical), static_cast<int>(sizeof logical));
  EXPECT_STREQ(logical.lfFaceName, "MS Sans Serif");
  // The dialog manager asks for the point size as a character height in pixels.
  HDC screen = GetDC(nullptr);
  const int pixelsPerInch = GetDeviceCaps(screen, LOGPIXELSY);
  EXPECT_EQ(logical.lfHeight, -MulDiv(8, pixelsPerInch, 72));

  // The face the system actually gives for that request. Windows has this bitmap font, and
  // so has Wine (sserife.fon, from Debian's fonts-wine) once the font is in the prefix's
  // Fonts folder: Debian's Wine does not look where that package puts it, and without it
  // Wine maps the request to a fontconfig face such as "DejaVu Sans", whose wider dialog
  // units (7 by 13 pixels there) move every control. The test scripts copy it in.
  const HGDIOBJ previous = SelectObject(screen, font);
  char face[LF_FACESIZE] = {};
  GetTextFaceA(screen, sizeof face, face);
  SelectObject(screen, previous);
  ReleaseDC(nullptr, screen);
  EXPECT_STREQ(face, "MS Sans Serif");

  // This font at 96 dots per inch makes a dialog unit 6/4 pixels wide and 13/8 high, as on
  // Windows; the places of the controls follow from that.
  if (pixelsPerInch == 96) {
    RECT units = {4, 8, 0, 0};
    ASSERT_TRUE(MapDialogRect(dialog_, &units));
    EXPECT_EQ(units.left, 6);
    EXPECT_EQ(units.top, 13);
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

// Ends a dialog that the test fails to end itself, so that a broken run fails instead of
// hanging: after the time-out it ends the dialog with a code no test expects.
class Watchdog {
 public:
  explicit Watchdog(platform::DialogWindow& dialog)
      : finished_(CreateEventA(nullptr, TRUE, FALSE, nullptr)), thread_([this, &dialog] {
          if (WaitForSingleObject(finished_, kTimeOutMs) == WAIT_TIMEOUT) {
            dialog.EndDialog(kTimedOut);
          }
        }) {}
  ~Watchdog() {
    SetEvent(finished_);
    thread_.join();
    CloseHandle(finished_);
  }
  static constexpr int kTimedOut = -7777;

 private:
  static constexpr DWORD kTimeOutMs = 20000;
  HANDLE finished_;
  platform::JoinableThread thread_;
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

TEST_F(Win32DialogTest, ControlsTakeWhatTheProgramSetsAndACommandArrives) {
  ScriptedEvents events;
  HBITMAP pictureHandle = nullptr;
  struct Seen {
    std::string title, status, button;
    LRESULT floppyCount = -1, cdCount = -1, progressPos = -1, progressMax = -1;
    int floppySelection = -2, cdSelection = -2;
    HBITMAP picture = nullptr;
    LONG pictureWidth = 0, pictureHeight = 0;
    bool floppyEnabled = true;
    HWND dialogWindow = nullptr;
  } seen;

  events.onInit = [&] {
    dialog_.SetTitle("Title from the program");
    dialog_.SetText(1002, "Status line");
    dialog_.SetText(1004, "&Leave");
    dialog_.Enable(1003, false);
    for (const char* drive : {"A:", "B:", "C:"}) dialog_.AddListItem(1015, drive);
    dialog_.SetListSelection(1015, 2);
    dialog_.AddListItem(1016, "Recorder");
    dialog_.SetProgressRange(1001, 500);
    dialog_.SetProgressPos(1001, 123);
    auto picture = MakeBitmap(40, 30);
    pictureHandle = picture->handle();
    dialog_.SetPicture(1011, std::move(picture));
    return true;
  };
  events.onShown = [&] {
    // Read back while the dialog runs its loop, through a command of its own.
    PostMessageA(dialog_.window(), WM_COMMAND, MAKEWPARAM(1005, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog_.window(), 1005)));
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
    seen.cdCount = Send(window, 1016, CB_GETCOUNT);
    seen.floppySelection = dialog_.GetListSelection(1015);
    seen.cdSelection = dialog_.GetListSelection(1016);
    seen.progressPos = Send(window, 1001, PBM_GETPOS);
    seen.progressMax = Send(window, 1001, PBM_GETRANGE, FALSE);
    seen.picture = reinterpret_cast<HBITMAP>(Send(window, 1011, STM_GETIMAGE, IMAGE_BITMAP));
    const RECT place = RectInDialog(GetDlgItem(window, 1011), window);
    seen.pictureWidth = place.right - place.left;
    seen.pictureHeight = place.bottom - place.top;
    dialog_.EndDialog(31);
  };

  Watchdog watchdog(dialog_);
  EXPECT_EQ(dialog_.RunModal(events), 31);

  EXPECT_NE(seen.dialogWindow, nullptr);
  EXPECT_EQ(seen.title, "Title from the program");
  EXPECT_EQ(seen.status, "Status line");
  EXPECT_EQ(seen.button, "&Leave");
  EXPECT_FALSE(seen.floppyEnabled);
  EXPECT_EQ(seen.floppyCount, 3);
  EXPECT_EQ(seen.cdCount, 1);
  EXPECT_EQ(seen.floppySelection, 2);
  EXPECT_EQ(seen.cdSelection, platform::kNoSelection);
  EXPECT_EQ(seen.progressPos, 123);
  EXPECT_EQ(seen.progressMax, 500);
  EXPECT_EQ(seen.picture, pictureHandle);
  // The picture control grows to its bitmap.
  EXPECT_EQ(seen.pictureWidth, 40);
  EXPECT_EQ(seen.pictureHeight, 30);
  const std::vector<std::string> expectedLog = {"init", "show", "command 1005"};
  EXPECT_EQ(WithoutClosingHide(events.log), expectedLog);
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

TEST_F(Win32DialogTest, EnterGivesOk) {
  ScriptedEvents events;
  events.onShown = [&] { PostMessageA(dialog_.window(), WM_KEYDOWN, VK_RETURN, 0); };
  events.onCommand = [&](int id) { dialog_.EndDialog(100 + id); };

  Watchdog watchdog(dialog_);
  EXPECT_EQ(dialog_.RunModal(events), 100 + platform::kIdOkCommand);
}

TEST_F(Win32DialogTest, ClickOnTheExitButtonArrivesAsItsCommand) {
  ScriptedEvents events;
  events.onShown = [&] {
    // BM_CLICK presses and releases the button as the mouse does.
    PostMessageA(GetDlgItem(dialog_.window(), 1004), BM_CLICK, 0, 0);
  };
  events.onCommand = [&](int id) { dialog_.EndDialog(id); };

  Watchdog watchdog(dialog_);
  EXPECT_EQ(dialog_.RunModal(events), 1004);
}

TEST_F(Win32DialogTest, OtherThreadsChangeTheControlsAndEndTheDialog) {
  ScriptedEvents events;
  platform::JoinableThread worker;
  std::atomic<int> selectionSeenByWorker{-2};
  std::atomic<HBITMAP> pictureFromWorker{nullptr};
  struct Seen {
    std::string status;
    bool exitEnabled = true;
    LRESULT recorders = -1, progressPos = -1, progressMax = -1;
    std::string title;
    HBITMAP picture = nullptr;
  } seen;

  events.onInit = [&] {
    const HWND window = dialog_.window();
    worker = platform::JoinableThread([&, window] {
      // The calls of a monitor thread while the dialog's thread runs its loop.
      dialog_.SetText(1002, "Written by another thread");
      dialog_.Enable(1004, false);
      dialog_.SetProgressRange(1001, 1000);
      dialog_.SetProgressPos(1001, 999);
      dialog_.AddListItem(1016, "One");
      dialog_.AddListItem(1016, "Two");
      dialog_.SetListSelection(1016, 1);
      dialog_.SetTitle("Another thread's title");
      auto picture = MakeBitmap(20, 10);
      pictureFromWorker = picture->handle();
      dialog_.SetPicture(1011, std::move(picture));
      selectionSeenByWorker = dialog_.GetListSelection(1016);
      // The dialog's thread reads the controls in a command; the end comes after it.
      PostMessageA(window, WM_COMMAND, MAKEWPARAM(1003, BN_CLICKED), 0);
      dialog_.EndDialog(77);
    });
    return true;
  };
  events.onCommand = [&](int id) {
    if (id != 1003) return;
    const HWND window = dialog_.window();
    seen.status = ItemText(window, 1002);
    seen.exitEnabled = IsWindowEnabled(GetDlgItem(window, 1004)) != FALSE;
    seen.recorders = Send(window, 1016, CB_GETCOUNT);
    seen.progressPos = Send(window, 1001, PBM_GETPOS);
    seen.progressMax = Send(window, 1001, PBM_GETRANGE, FALSE);
    seen.title = WindowText(window);
    seen.picture = reinterpret_cast<HBITMAP>(Send(window, 1011, STM_GETIMAGE, IMAGE_BITMAP));
  };

  int code = 0;
  {
    Watchdog watchdog(dialog_);
    code = dialog_.RunModal(events);
  }
  if (worker.joinable()) worker.join();
  EXPECT_EQ(code, 77);
  EXPECT_EQ(seen.status, "Written by another thread");
  EXPECT_FALSE(seen.exitEnabled);
  EXPECT_EQ(seen.recorders, 2);
  EXPECT_EQ(seen.progressPos, 999);
  EXPECT_EQ(seen.progressMax, 1000);
  EXPECT_EQ(seen.title, "Another thread's title");
  EXPECT_EQ(selectionSeenByWorker.load(), 1);
  EXPECT_NE(seen.picture, nullptr);
  EXPECT_EQ(seen.picture, pictureFromWorker.load());
}

// Closes the message box with `caption` once it shows, pressing `button`, and notes the
// box's owner and text.
class MessageBoxCloser {
 public:
  MessageBoxCloser(std::string caption, int button)
      : thread_([this, caption, button] {
          const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
          while (std::chrono::steady_clock::now() < deadline) {
            HWND box = FindWindowA("#32770", caption.c_str());
            if (box != nullptr && IsWindowVisible(box)) {
              owner = GetWindow(box, GW_OWNER);
              // The message box's text is its static control 0xFFFF.
              text = ItemText(box, 0xFFFF);
              PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
              found = true;
              return;
            }
            Sleep(20);
          }
        }) {}
  ~MessageBoxCloser() { Join(); }
  void Join() {
    if (thread_.joinable()) thread_.join();
  }

  HWND owner = nullptr;
  std::string text;
  bool found = false;

 private:
  platform::JoinableThread thread_;
};

TEST_F(Win32DialogTest, MessageBoxBeforeTheDialogHasNoOwnerAndGivesTheButton) {
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

TEST_F(Win32DialogTest, MessageBoxIsOwnedByTheDialogOnlyWhenAsked) {
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
