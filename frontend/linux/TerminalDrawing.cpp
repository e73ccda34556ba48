// The terminal dialog drawn on the screen: install texts turned from Windows-1252 into
// UTF-8, wrapped to the terminal's width, the dialog's controls and the front message box.
#include <sys/ioctl.h>

#include <algorithm>

#include "frontend/linux/TerminalDialog.h"
#include "frontend/linux/TerminalKeys.h"

namespace frontend {

using terminal::OneLine;

namespace {

constexpr int kProgressCells = 20;

// Windows-1252 0x80 to 0x9F; 0 where the code page leaves a byte undefined.
constexpr uint16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

void AppendUtf8(uint32_t codePoint, std::string* out) {
  if (codePoint < 0x80) {
    out->push_back(static_cast<char>(codePoint));
  } else if (codePoint < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
    out->push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
    out->push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  }
}

// Characters on the screen: UTF-8 continuation bytes take no column.
size_t Columns(const std::string& text) {
  size_t count = 0;
  for (const char c : text) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
  }
  return count;
}

// The byte offset after the first `columns` characters of `text`.
size_t OffsetOfColumn(const std::string& text, size_t columns) {
  size_t seen = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
      if (seen == columns) return i;
      ++seen;
    }
  }
  return text.size();
}

// Breaks terminal text into lines of at most `width` characters, at spaces where it can.
std::vector<std::string> Wrap(const std::string& text, size_t width) {
  std::vector<std::string> lines;
  if (width < 1) width = 1;
  size_t start = 0;
  while (true) {
    const size_t end = text.find('\n', start);
    std::string paragraph = text.substr(start, end == std::string::npos ? end : end - start);
    while (Columns(paragraph) > width) {
      size_t cut = OffsetOfColumn(paragraph, width);
      const size_t space = paragraph.rfind(' ', cut);
      if (space != std::string::npos && space > 0) cut = space;
      lines.push_back(paragraph.substr(0, cut));
      paragraph.erase(0, cut);
      if (!paragraph.empty() && paragraph[0] == ' ') paragraph.erase(0, 1);
    }
    lines.push_back(paragraph);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return lines;
}

const char* ButtonKey(int controlId) {
  switch (controlId) {
    case kCreateFloppyButton:
      return "f";
    case kCreateCdButton:
      return "c";
    default:
      return "x";
  }
}

}  // namespace

namespace terminal {

std::string OneLine(const std::string& text) {
  std::string line = ToTerminalText(text);
  std::replace(line.begin(), line.end(), '\n', ' ');
  return line;
}

}  // namespace terminal

std::string ToTerminalText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == '\r') continue;
    if (byte == '\n') {
      out.push_back('\n');
    } else if (byte < 0x20 || byte == 0x7F) {
      out.push_back(' ');
    } else if (byte < 0x80) {
      out.push_back(c);
    } else if (byte < 0xA0) {
      const uint16_t codePoint = kCp1252High[byte - 0x80];
      AppendUtf8(codePoint != 0 ? codePoint : 0xFFFD, &out);
    } else {
      AppendUtf8(byte, &out);
    }
  }
  return out;
}

int TerminalDialog::ScreenWidth() const {
  struct winsize size = {};
  if (ioctl(fileno(screen_), TIOCGWINSZ, &size) == 0 && size.ws_col >= 20) return size.ws_col;
  return 80;
}

void TerminalDialog::Redraw() {
  if (batch_ || !terminalEntered_) return;
  if (!running_ && boxes_.empty()) {
    // With the dialog gone the last dialog screen stays, but an answered box goes.
    if (boxesOnly_) {
      std::fputs("\x1b[H\x1b[J", screen_);
      std::fflush(screen_);
      boxesOnly_ = false;
      drawn_.clear();
    }
    return;
  }
  boxesOnly_ = !running_;
  const std::string screen = Render();
  if (screen == drawn_) return;
  std::string out = drawn_.empty() ? "\x1b[2J\x1b[H" : "\x1b[H";
  size_t start = 0;
  while (start < screen.size()) {
    const size_t end = screen.find('\n', start);
    out.append(screen, start, end - start);
    out += "\x1b[K\n";
    start = end + 1;
  }
  out += "\x1b[J";
  std::fwrite(out.data(), 1, out.size(), screen_);
  std::fflush(screen_);
  drawn_ = screen;
}

std::string TerminalDialog::Render() const {
  std::vector<std::string> lines;
  if (running_) RenderDialog(&lines);
  if (!boxes_.empty()) {
    RenderBox(*boxes_.front(), &lines);
    if (boxes_.size() > 1) {
      lines.push_back("  (" + std::to_string(boxes_.size() - 1) + " more message(s) waiting)");
    }
  }
  std::string screen;
  for (const std::string& line : lines) screen += line + "\n";
  return screen;
}

void TerminalDialog::RenderDialog(std::vector<std::string>* lines) const {
  const auto width = static_cast<size_t>(ScreenWidth() - 1);
  const auto text = [this](int id) {
    const auto found = texts_.find(id);
    return found == texts_.end() ? std::string() : ToTerminalText(found->second);
  };
  const auto add = [&](const std::string& indent, const std::string& content) {
    for (const std::string& line : Wrap(content, width - indent.size())) {
      lines->push_back(indent + line);
    }
  };

  const std::string title = ToTerminalText(title_);
  add(" ", title);
  lines->push_back(" " + std::string(std::min(Columns(title), width - 1), '='));
  if (picture_) {
    add(" ", "[picture " + std::to_string(picture_->Width()) + "x" +
                 std::to_string(picture_->Height()) + "]");
  }
  for (const auto& [group, list] :
       {std::pair<int, int>{kFloppyGroup, kFloppyList}, std::pair<int, int>{kCdGroup, kCdList}}) {
    lines->push_back("");
    const bool focused = focusedList_ == list && Enabled(list);
    add(focused ? ">" : " ", text(group) + (Enabled(list) ? "" : " (disabled)"));
    const auto items = lists_.find(list);
    const auto chosen = selections_.find(list);
    const int selection = chosen == selections_.end() ? platform::kNoSelection : chosen->second;
    if (items == lists_.end() || items->second.empty()) {
      lines->push_back("     (none)");
      continue;
    }
    for (size_t i = 0; i < items->second.size(); ++i) {
      const bool selected = static_cast<int>(i) == selection;
      add("   ", std::to_string(i + 1) + (selected ? " (*) " : " ( ) ") +
                     ToTerminalText(items->second[i]));
    }
  }

  lines->push_back("");
  add(" ", text(kProgressGroup));
  const auto bar = progress_.find(kProgressBarControl);
  const Progress progress = bar == progress_.end() ? Progress() : bar->second;
  const int shown = std::clamp(progress.position, 0, std::max(progress.maximum, 0));
  const int filled = progress.maximum > 0 ? shown * kProgressCells / progress.maximum : 0;
  lines->push_back("   [" + std::string(static_cast<size_t>(filled), '#') +
                   std::string(static_cast<size_t>(kProgressCells - filled), '-') + "] " +
                   std::to_string(shown) + "/" + std::to_string(progress.maximum));
  add(" ", text(kStatusGroup));
  add("   ", text(kStatusLineControl));

  lines->push_back("");
  std::string buttons;
  for (const int button : {kCreateFloppyButton, kCreateCdButton, kExitButton}) {
    const std::string key = ButtonKey(button);
    buttons += Enabled(button) ? " [" + key + "] " + text(button) + "  "
                               : " (" + key + ") " + text(button) + " - disabled  ";
  }
  add("", buttons);
  const std::string keys = inputIsTerminal_
                               ? " Tab: other list  Up/Down, 1-9: choose a drive  Enter: OK  "
                                 "Esc, q: Cancel  w: close the window"
                               : " Type a key and Enter (an empty line is Enter, \"esc\" Escape, "
                                 "\"tab\", \"up\", \"down\"): f c x  1-9: choose a drive  "
                                 "q: Cancel  w: close the window";
  add("", keys);
}

void TerminalDialog::RenderBox(const PendingBox& box, std::vector<std::string>* lines) const {
  const auto width = static_cast<size_t>(ScreenWidth() - 1);
  const std::string caption = OneLine(box.caption);
  lines->push_back("");
  std::string top = " +-- " + caption + " ";
  if (Columns(top) < width) top += std::string(width - Columns(top), '-');
  lines->push_back(top);
  for (const std::string& line : Wrap(ToTerminalText(box.text), width - 4)) {
    lines->push_back(" | " + line);
  }
  lines->push_back(" |");
  lines->push_back((box.type & 0xF) == platform::kMbOkCancel ? " | [Enter] OK   [Esc] Cancel"
                                                             : " | [Enter] OK");
  lines->push_back(" +" + std::string(width > 2 ? width - 2 : 0, '-'));
}

}  // namespace frontend
