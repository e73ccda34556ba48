#include "tests/fakes/FakeDialogControls.h"

#include <cstdio>

namespace fakes {

void FakeDialogControls::Logged(const std::string& line) {
  {
    std::lock_guard<platform::Lock> guard(lock_);
    log_.push_back(line);
  }
  if (onLog) onLog(line);
}

void FakeDialogControls::SetText(int controlId, const std::string& text) {
  {
    std::lock_guard<platform::Lock> guard(lock_);
    texts_[controlId] = text;
  }
  Logged("text " + std::to_string(controlId) + " " + text);
}

void FakeDialogControls::Enable(int controlId, bool enabled) {
  {
    std::lock_guard<platform::Lock> guard(lock_);
    enabled_[controlId] = enabled;
  }
  Logged((enabled ? "enable " : "disable ") + std::to_string(controlId));
}

void FakeDialogControls::SetProgressRange(int controlId, uint16_t maximum) {
  {
    std::lock_guard<platform::Lock> guard(lock_);
    ranges_[controlId] = maximum;
  }
  Logged("range " + std::to_string(controlId) + " " + std::to_string(maximum));
}

void FakeDialogControls::SetProgressPos(int controlId, int position) {
  {
    std::lock_guard<platform::Lock> guard(lock_);
    positions_[controlId] = position;
  }
  Logged("pos " + std::to_string(controlId) + " " + std::to_string(position));
}

int FakeDialogControls::MessageBox(const std::string& text, const std::string& caption,
                                   uint32_t type, bool ownedByDialog) {
  char typeText[16];
  std::snprintf(typeText, sizeof typeText, "0x%02X", type);
  {
    std::lock_guard<platform::Lock> guard(lock_);
    boxes_.push_back({text, caption, type, ownedByDialog});
  }
  Logged(std::string("box ") + (ownedByDialog ? "owned " : "free ") + typeText + " " + caption +
         ": " + text);
  std::lock_guard<platform::Lock> guard(lock_);
  if (answers_.empty()) return platform::kIdOk;
  const int answer = answers_.front();
  answers_.pop_front();
  return answer;
}

std::vector<std::string> FakeDialogControls::Log() const {
  std::lock_guard<platform::Lock> guard(lock_);
  return log_;
}

std::vector<FakeMessageBox> FakeDialogControls::Boxes() const {
  std::lock_guard<platform::Lock> guard(lock_);
  return boxes_;
}

std::string FakeDialogControls::TextOf(int controlId) const {
  std::lock_guard<platform::Lock> guard(lock_);
  auto it = texts_.find(controlId);
  return it == texts_.end() ? std::string() : it->second;
}

bool FakeDialogControls::EnabledOf(int controlId) const {
  std::lock_guard<platform::Lock> guard(lock_);
  auto it = enabled_.find(controlId);
  return it == enabled_.end() || it->second;
}

int FakeDialogControls::PositionOf(int controlId) const {
  std::lock_guard<platform::Lock> guard(lock_);
  auto it = positions_.find(controlId);
  return it == positions_.end() ? 0 : it->second;
}

int FakeDialogControls::RangeOf(int controlId) const {
  std::lock_guard<platform::Lock> guard(lock_);
  auto it = ranges_.find(controlId);
  return it == ranges_.end() ? 0 : it->second;
}

void FakeDialogControls::Reset() {
  std::lock_guard<platform::Lock> guard(lock_);
  log_.clear();
  boxes_.clear();
  texts_.clear();
  enabled_.clear();
  positions_.clear();
  ranges_.clear();
  answers_.clear();
}

void FakeDialogControls::Answer(int button) {
  std::lock_guard<platform::Lock> guard(lock_);
  answers_.push_back(button);
}

}  // namespace fakes
