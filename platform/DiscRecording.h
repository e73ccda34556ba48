// Disc recording as the CD job sees it: the Windows shell's CD burning object, the disc
// mastering service of Windows XP (IMAPI) with its Joliet staging, the one of Windows
// Vista and later (IMAPI2), and the temporary compound files that carry staged data.
//
// Every object is owned by a std::unique_ptr; destroying it releases the object (COM's
// Release). Results are HRESULTs with their Windows values; success is not negative.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

using HResult = int32_t;
constexpr HResult kSOk = 0;
constexpr HResult kSFalse = 1;
constexpr HResult kENotImpl = static_cast<HResult>(0x80004001u);
constexpr HResult kEFail = static_cast<HResult>(0x80004005u);
constexpr HResult kEPointer = static_cast<HResult>(0x80004003u);
constexpr HResult kClassNotRegistered = static_cast<HResult>(0x80040154u);
inline bool Succeeded(HResult result) {
  return result >= 0;
}

/// Storage modes (STGM_*) as the CD job passes them.
constexpr uint32_t kStgmCreateReadWriteExclusive = 0x1012;  // new compound file
constexpr uint32_t kStgmCreateWriteExclusive = 0x1011;      // new stream
constexpr uint32_t kStgmReadExclusive = 0x10;               // stream opened again to read

/// COM apartments.
constexpr uint32_t kCoinitApartmentThreaded = 2;

/// Property value types (VARTYPE) that the Joliet properties use.
constexpr uint16_t kVtEmpty = 0;
constexpr uint16_t kVtI2 = 2;
constexpr uint16_t kVtI4 = 3;
constexpr uint16_t kVtBstr = 8;
constexpr uint16_t kVtBool = 11;
constexpr uint16_t kVtUnknown = 13;
constexpr uint16_t kVtUi1 = 17;
constexpr uint16_t kVtUi2 = 18;
constexpr uint16_t kVtLpwstr = 31;
constexpr uint16_t kVtStream = 66;

/// IStream.
class DiscStream {
 public:
  virtual ~DiscStream() = default;
  virtual HResult Write(const void* data, uint32_t bytes, uint32_t* written) = 0;
  /// Copies `bytes` from this stream's position into `target` at its position.
  virtual HResult CopyTo(DiscStream& target, uint64_t bytes) = 0;
};

/// IStorage of a temporary compound file, removed when released.
class DiscStorage {
 public:
  virtual ~DiscStorage() = default;
  virtual HResult CreateStream(const std::u16string& name, uint32_t mode,
                               std::unique_ptr<DiscStream>* stream) = 0;
  /// The stream positioned at its start.
  virtual HResult OpenStream(const std::u16string& name, uint32_t mode,
                             std::unique_ptr<DiscStream>* stream) = 0;
};

/// One property's value (PROPVARIANT): `type` says which member holds it. A stream value
/// is owned by the value and released with it.
struct PropertyValue {
  uint16_t type = kVtEmpty;
  int64_t number = 0;                  ///< VT_I2, VT_I4, VT_BOOL, VT_UI1, VT_UI2
  std::u16string text;                 ///< VT_BSTR, VT_LPWSTR
  std::unique_ptr<DiscStream> stream;  ///< VT_STREAM, VT_UNKNOWN
};

/// IEnumSTATPROPSTG, one property at a time.
class PropertyEnumerator {
 public:
  virtual ~PropertyEnumerator() = default;
  /// S_OK with the next property's id and type, S_FALSE when there is none.
  virtual HResult Next(uint32_t* id, uint16_t* type) = 0;
};

/// IPropertyStorage of IMAPI's Joliet format.
class PropertySet {
 public:
  virtual ~PropertySet() = default;
  virtual HResult Enum(std::unique_ptr<PropertyEnumerator>* enumerator) = 0;
  /// ReadMultiple of one property named by its id (PRSPEC_PROPID).
  virtual HResult Read(uint32_t id, PropertyValue* value) = 0;
  /// WriteMultiple of one property named by its id (PRSPEC_PROPID), with `firstNewId`.
  virtual HResult Write(uint32_t id, const PropertyValue& value, uint32_t firstNewId) = 0;
};

/// IJolietDiscMaster.
class JolietFormat {
 public:
  virtual ~JolietFormat() = default;
  virtual HResult GetJolietProperties(std::unique_ptr<PropertySet>* properties) = 0;
  virtual HResult SetJolietProperties(PropertySet& properties) = 0;
  virtual HResult AddData(DiscStorage& storage, int32_t overwrite) = 0;
};

/// IDiscRecorder.
class RecorderObject {
 public:
  virtual ~RecorderObject() = default;
  virtual HResult GetPath(std::u16string* path) = 0;
  virtual HResult Close() = 0;
};

/// IEnumDiscRecorders.
class RecorderEnumeration {
 public:
  virtual ~RecorderEnumeration() = default;
  /// Asks for one recorder; `*fetched` is 1 when one came.
  virtual HResult Next(std::unique_ptr<RecorderObject>* recorder, uint32_t* fetched) = 0;
};

/// IDiscMaster.
class DiscMasterObject {
 public:
  virtual ~DiscMasterObject() = default;
  virtual HResult Open() = 0;
  /// EnumDiscMasterFormats, then Next for up to `room` format ids; the format enumerator is
  /// released inside. `*fetched` is how many came.
  virtual HResult EnumFormats(uint32_t room, uint32_t* fetched) = 0;
  virtual HResult EnumDiscRecorders(std::unique_ptr<RecorderEnumeration>* recorders) = 0;
  /// SetActiveDiscRecorder; null when no recorder is held.
  virtual HResult SetActiveDiscRecorder(RecorderObject* recorder) = 0;
  /// QueryInterface for IID_IJolietDiscMaster.
  virtual HResult QueryJoliet(std::unique_ptr<JolietFormat>* joliet) = 0;
  virtual HResult RecordDisc(bool simulate, bool ejectAfterBurn) = 0;
  virtual HResult Close() = 0;
};

/// ICDBurn.
class ShellCdBurnObject {
 public:
  virtual ~ShellCdBurnObject() = default;
  virtual HResult HasRecordableDrive(bool* hasOne) = 0;
};

/// IDiscMaster2.
class DiscMaster2Object {
 public:
  virtual ~DiscMaster2Object() = default;
  /// get_Item: the unique id of the recorder at `index`.
  virtual HResult GetItem(int32_t index, std::u16string* uniqueId) = 0;
};

/// IDiscRecorder2.
class Recorder2Object {
 public:
  virtual ~Recorder2Object() = default;
  virtual HResult InitializeDiscRecorder(const std::u16string& uniqueId) = 0;
  virtual HResult EjectMedia() = 0;
};

/// IDiscFormat2Data.
class DataWriter2Object {
 public:
  virtual ~DataWriter2Object() = default;
  virtual HResult PutRecorder(Recorder2Object& recorder) = 0;
  virtual HResult PutClientName(const std::u16string& name) = 0;
  /// Writes the whole stream to the disc; returns when the disc is written or failed.
  virtual HResult Write(DiscStream& image) = 0;
};

/// The system's services: COM on the calling thread, object creation, and the DOS
/// device names that tell which drive letter a recorder has.
class DiscRecording {
 public:
  virtual ~DiscRecording() = default;
  virtual HResult CoInitialize() = 0;
  virtual HResult CoInitializeEx(uint32_t apartment) = 0;
  virtual void CoUninitialize() = 0;
  /// CoCreateInstance of CLSID_CDBurn, in-process or local server.
  virtual HResult CreateShellCdBurn(std::unique_ptr<ShellCdBurnObject>* object) = 0;
  /// CoCreateInstance of CLSID_MSDiscMasterObj, in-process or local server.
  virtual HResult CreateDiscMaster(std::unique_ptr<DiscMasterObject>* object) = 0;
  /// StgCreateDocfile with no name: a temporary compound file.
  virtual HResult CreateTemporaryStorage(uint32_t mode, std::unique_ptr<DiscStorage>* storage) = 0;
  /// CoCreateInstance of MsftDiscMaster2, MsftDiscRecorder2 and MsftDiscFormat2Data, CLSCTX_ALL.
  virtual HResult CreateDiscMaster2(std::unique_ptr<DiscMaster2Object>* object) = 0;
  virtual HResult CreateRecorder2(std::unique_ptr<Recorder2Object>* object) = 0;
  virtual HResult CreateDataWriter2(std::unique_ptr<DataWriter2Object>* object) = 0;
  /// QueryDosDeviceA: the targets of DOS device `name` ("E:") into `buffer` of `size`
  /// bytes as zero-terminated strings; the number of characters stored, 0 on failure.
  virtual uint32_t QueryDosDevice(const std::string& name, char* buffer, uint32_t size) = 0;
  /// Whether the temporary storage's streams take the CD image in pieces as it is built, so
  /// that it never has to be held whole in memory. IMAPI2's stream is given the image in
  /// one piece from its buffer.
  virtual bool StreamsTakeImageInPieces() const { return false; }
};

}  // namespace platform
