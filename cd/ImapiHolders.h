// Owning holders of the shell and IMAPI objects that recorder discovery and the IMAPI
// burner share. Each holds at most one object (it may be empty), keeps the result of its
// last call, and releases its object when destroyed. A call on an empty holder is a plain
// failure, never a call through nothing.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/DiscRecording.h"

namespace cd {

/// The Windows shell's CD burning object.
class ShellBurner {
 public:
  explicit ShellBurner(platform::DiscRecording& recording);
  /// True only when the call succeeded and reported a recordable drive.
  bool HasRecordableDrive();
  platform::HResult lastResult = platform::kSOk;

 private:
  std::unique_ptr<platform::ShellCdBurnObject> object_;
};

class DiscRecorder;

/// IMAPI's disc master. Closed (once) before it is released when it holds an object.
class DiscMaster {
 public:
  explicit DiscMaster(platform::DiscRecording& recording);
  ~DiscMaster();
  DiscMaster(const DiscMaster&) = delete;
  DiscMaster& operator=(const DiscMaster&) = delete;

  bool Open();
  /// The number of format ids fetched into `room`, 0 when the enumeration fails.
  uint32_t EnumFormats(uint32_t room);
  bool SetActiveRecorder(DiscRecorder& recorder);
  platform::HResult RecordDisc(bool simulate, bool ejectAfterBurn);
  platform::HResult Close();
  /// The held object, for the Joliet format and the recorder enumeration; may be null.
  platform::DiscMasterObject* object() const { return object_.get(); }

  platform::HResult lastResult = platform::kSOk;

 private:
  std::unique_ptr<platform::DiscMasterObject> object_;
  bool closed_ = false;
};

/// One recorder, filled by RecorderEnumerator::Next. Closed before it is released.
class DiscRecorder {
 public:
  DiscRecorder() = default;
  ~DiscRecorder();
  DiscRecorder(const DiscRecorder&) = delete;
  DiscRecorder& operator=(const DiscRecorder&) = delete;

  /// The device path in 8-bit characters; "" on failure or when empty.
  std::string GetPath();
  /// Closes and releases the held recorder.
  void Reset();
  platform::RecorderObject* object() const { return object_.get(); }
  std::unique_ptr<platform::RecorderObject>& slot() { return object_; }

  platform::HResult lastResult = platform::kSOk;

 private:
  std::unique_ptr<platform::RecorderObject> object_;
};

/// The disc master's recorder enumeration.
class RecorderEnumerator {
 public:
  explicit RecorderEnumerator(DiscMaster& master);
  /// Empties `recorder`, then asks for the next one; true only when exactly one came.
  bool Next(DiscRecorder& recorder);
  platform::HResult lastResult = platform::kSOk;

 private:
  std::unique_ptr<platform::RecorderEnumeration> object_;
};

/// 16-bit characters to 8-bit ones: each unit's low byte; a zero unit ends the text.
std::string NarrowText(const std::u16string& text);
/// 8-bit characters to 16-bit ones, each byte one unit; a zero byte ends the text.
std::u16string WidenText(const std::string& text);

}  // namespace cd
