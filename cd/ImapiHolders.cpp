#include "cd/ImapiHolders.h"

namespace cd {

using platform::HResult;
using platform::Succeeded;

std::string NarrowText(const std::u16string& text) {
  std::string narrow;
  for (char16_t unit : text) {
    if (unit == 0) break;
    narrow.push_back(static_cast<char>(unit <= 0xFF ? unit : '?'));
  }
  return narrow;
}

std::u16string WidenText(const std::string& text) {
  std::u16string wide;
  for (char byte : text) {
    if (byte == '\0') break;
    // Names are widened byte for byte as Latin-1, the data file's plain 8-bit text.
    wide.push_back(static_cast<char16_t>(static_cast<unsigned char>(byte)));
  }
  return wide;
}

ShellBurner::ShellBurner(platform::DiscRecording& recording) {
  lastResult = recording.CreateShellCdBurn(&object_);
  if (!Succeeded(lastResult)) object_.reset();
}

bool ShellBurner::HasRecordableDrive() {
  if (!object_) return false;
  bool hasOne = false;
  lastResult = object_->HasRecordableDrive(&hasOne);
  return Succeeded(lastResult) && hasOne;
}

DiscMaster::DiscMaster(platform::DiscRecording& recording) {
  lastResult = recording.CreateDiscMaster(&object_);
  if (!Succeeded(lastResult)) object_.reset();
}

DiscMaster::~DiscMaster() {
  // The service is closed whenever an object is held, also after a failed Open.
  if (object_ && !closed_) object_->Close();
}

bool DiscMaster::Open() {
  if (!object_) return false;
  lastResult = object_->Open();
  return Succeeded(lastResult);
}

uint32_t DiscMaster::EnumFormats(uint32_t room) {
  if (!object_) return 0;
  uint32_t fetched = 0;
  lastResult = object_->EnumFormats(room, &fetched);
  return Succeeded(lastResult) ? fetched : 0;
}

bool DiscMaster::SetActiveRecorder(DiscRecorder& recorder) {
  if (!object_) return false;
  lastResult = object_->SetActiveDiscRecorder(recorder.object());
  return Succeeded(lastResult);
}

HResult DiscMaster::RecordDisc(bool simulate, bool ejectAfterBurn) {
  if (!object_) return platform::kEPointer;
  lastResult = object_->RecordDisc(simulate, ejectAfterBurn);
  return lastResult;
}

HResult DiscMaster::Close() {
  if (!object_) return platform::kEPointer;
  lastResult = object_->Close();
  closed_ = true;
  return lastResult;
}

DiscRecorder::~DiscRecorder() {
  Reset();
}

std::string DiscRecorder::GetPath() {
  if (!object_) return std::string();
  std::u16string path;
  lastResult = object_->GetPath(&path);
  return Succeeded(lastResult) ? NarrowText(path) : std::string();
}

void DiscRecorder::Reset() {
  if (object_) object_->Close();
  object_.reset();
}

RecorderEnumerator::RecorderEnumerator(DiscMaster& master) {
  if (master.object() == nullptr) {
    lastResult = platform::kEPointer;
    return;
  }
  lastResult = master.object()->EnumDiscRecorders(&object_);
  if (!Succeeded(lastResult)) object_.reset();
}

bool RecorderEnumerator::Next(DiscRecorder& recorder) {
  recorder.Reset();
  if (!object_) return false;
  uint32_t fetched = 0;
  lastResult = object_->Next(&recorder.slot(), &fetched);
  return Succeeded(lastResult) && fetched == 1 && recorder.object() != nullptr;
}

}  // namespace cd
