// Disc recording on Linux, on libburn: recorders are libburn drive addresses (an optical
// drive such as "/dev/sr0", or "stdio:/path/file.iso" for a file that stands in for a
// disc), the Vista-style data writer burns the image through libburn, and the temporary
// storage keeps its streams in unnamed temporary files.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/DiscRecording.h"

namespace platform {

/// The DiscRecording of a Linux machine. The CD job lists recorders through the shell
/// object and the XP-style disc master, and burns through the Vista-style objects; the
/// XP-style Joliet staging and RecordDisc are not available here (E_NOTIMPL).
///
/// Every text that carries an address widens each byte to one UTF-16 unit and narrows it
/// back the same way, so any path's bytes survive the round trip through the CD job.
class LinuxDiscRecording : public DiscRecording {
 public:
  LinuxDiscRecording() = default;
  ~LinuxDiscRecording() override = default;
  LinuxDiscRecording(const LinuxDiscRecording&) = delete;
  LinuxDiscRecording& operator=(const LinuxDiscRecording&) = delete;

  /// Adds a recorder by its libburn drive address: "stdio:/path/file.iso" for a file target
  /// or a device such as "/dev/sr0". An empty address, or one already listed, is ignored.
  /// Objects created before the call keep the list they were created with.
  void AddRecorder(const std::string& address);

  /// Adds the optical drives that libburn's drive scan finds, in its order, and lets go of
  /// them again so that the burn can grab them later. Finds nothing, quickly, on a machine
  /// without drives, and nothing while this process has a drive grabbed (libburn refuses to
  /// scan then).
  void ScanDrives();

  /// The recorders' addresses; recorder n has drive letter 'E' + n, up to 'Z'.
  const std::vector<std::string>& Recorders() const { return recorders_; }

  /// True: the streams are files, so the image goes into them as it is made.
  bool StreamsTakeImageInPieces() const override { return true; }

  /// CoInitialize calls not yet matched by CoUninitialize.
  int ComDepth() const { return comDepth_; }

  /// S_OK; counts the call.
  HResult CoInitialize() override;
  /// S_OK for any apartment; counts the call.
  HResult CoInitializeEx(uint32_t apartment) override;
  /// Uncounts one CoInitialize; nothing else to undo.
  void CoUninitialize() override;

  /// An object whose HasRecordableDrive says whether any recorder is listed.
  HResult CreateShellCdBurn(std::unique_ptr<ShellCdBurnObject>* object) override;
  /// A disc master that only lists the recorders: no formats, E_NOTIMPL for Joliet and
  /// RecordDisc.
  HResult CreateDiscMaster(std::unique_ptr<DiscMasterObject>* object) override;
  /// A storage whose streams live in unnamed temporary files in $TMPDIR (or /tmp), so a
  /// large image is held on disk rather than in memory; everything goes with the storage
  /// and its last stream.
  HResult CreateTemporaryStorage(uint32_t mode, std::unique_ptr<DiscStorage>* storage) override;
  /// GetItem(n) is recorder n's address; E_INVALIDARG outside the list.
  HResult CreateDiscMaster2(std::unique_ptr<DiscMaster2Object>* object) override;
  /// InitializeDiscRecorder grabs the drive through libburn; EjectMedia releases it with an
  /// eject; releasing the object releases a still-grabbed drive without ejecting.
  HResult CreateRecorder2(std::unique_ptr<Recorder2Object>* object) override;
  /// Write burns the stream (a multiple of 2048 bytes; one of this back end's streams from
  /// its start, any other from its position) as one data track in one closed session on
  /// blank media, and returns when the burn has ended: S_OK only when libburn says it wrote
  /// well. A regular file target is emptied first and then holds exactly the image.
  HResult CreateDataWriter2(std::unique_ptr<DataWriter2Object>* object) override;
  /// "E:" (either case) to "Z:" name recorders 0 to 21: their address, a zero and a second
  /// zero. 0 for every other name, or when the buffer cannot hold it all, and then nothing
  /// is written.
  uint32_t QueryDosDevice(const std::string& name, char* buffer, uint32_t size) override;

 private:
  std::vector<std::string> recorders_;
  int comDepth_ = 0;
};

/// The whole content of `stream`, from its start whatever its position, when it is a
/// stream of a LinuxDiscRecording storage; false, with `bytes` emptied, for any other.
bool ReadAll(const DiscStream& stream, std::vector<uint8_t>* bytes);

}  // namespace platform
