// The COM interfaces of the Windows disc mastering services, declared here because
// MinGW-w64 has no imapi.h or imapi2.h: IMAPI (Windows XP) and IMAPI2 (Windows Vista and
// later). Each interface lists every method of its vtable in order, because a call reaches
// its method only by the slot's position; the comment before each method gives its slot.
// The identifiers have no link-time symbols anywhere in MinGW, so they are constants here.
#pragma once

#include <windows.h>

#include <oaidl.h>
#include <objidl.h>
#include <propidl.h>

namespace platform::imapi {

// IMAPI passes flags as the one-byte MIDL boolean; a wider type would make the callee read
// stack bytes that were never written.
static_assert(sizeof(boolean) == 1, "IMAPI's boolean is one byte");
static_assert(sizeof(VARIANT_BOOL) == 2, "VARIANT_BOOL is two bytes");

/// IID_IDiscMaster {520CCA62-51A5-11D3-9144-00104BA11C5E}.
inline constexpr IID kIidDiscMaster = {
    0x520CCA62, 0x51A5, 0x11D3, {0x91, 0x44, 0x00, 0x10, 0x4B, 0xA1, 0x1C, 0x5E}};
/// IID_IDiscRecorder {85AC9776-CA88-4CF2-894E-09598C078A41}.
inline constexpr IID kIidDiscRecorder = {
    0x85AC9776, 0xCA88, 0x4CF2, {0x89, 0x4E, 0x09, 0x59, 0x8C, 0x07, 0x8A, 0x41}};
/// IID_IEnumDiscRecorders {9B1921E1-54AC-11D3-9144-00104BA11C5E}.
inline constexpr IID kIidEnumDiscRecorders = {
    0x9B1921E1, 0x54AC, 0x11D3, {0x91, 0x44, 0x00, 0x10, 0x4B, 0xA1, 0x1C, 0x5E}};
/// IID_IEnumDiscMasterFormats {DDF445E1-54BA-11D3-9144-00104BA11C5E}.
inline constexpr IID kIidEnumDiscMasterFormats = {
    0xDDF445E1, 0x54BA, 0x11D3, {0x91, 0x44, 0x00, 0x10, 0x4B, 0xA1, 0x1C, 0x5E}};
/// IID_IRedbookDiscMaster {E3BC42CD-4E5C-11D3-9144-00104BA11C5E}: the audio format.
inline constexpr IID kIidRedbookDiscMaster = {
    0xE3BC42CD, 0x4E5C, 0x11D3, {0x91, 0x44, 0x00, 0x10, 0x4B, 0xA1, 0x1C, 0x5E}};
/// IID_IJolietDiscMaster {E3BC42CE-4E5C-11D3-9144-00104BA11C5E}: the data format.
inline constexpr IID kIidJolietDiscMaster = {
    0xE3BC42CE, 0x4E5C, 0x11D3, {0x91, 0x44, 0x00, 0x10, 0x4B, 0xA1, 0x1C, 0x5E}};
/// CLSID_MSDiscMasterObj {520CCA63-51A5-11D3-9144-00104BA11C5E}.
inline constexpr CLSID kClsidMsDiscMasterObj = {
    0x520CCA63, 0x51A5, 0x11D3, {0x91, 0x44, 0x00, 0x10, 0x4B, 0xA1, 0x1C, 0x5E}};

/// CLSID_MsftDiscMaster2 {2735412E-7F64-5B0F-8F00-5D77AFBE261E}.
inline constexpr CLSID kClsidMsftDiscMaster2 = {
    0x2735412E, 0x7F64, 0x5B0F, {0x8F, 0x00, 0x5D, 0x77, 0xAF, 0xBE, 0x26, 0x1E}};
/// IID_IDiscMaster2 {27354130-7F64-5B0F-8F00-5D77AFBE261E}.
inline constexpr IID kIidDiscMaster2 = {
    0x27354130, 0x7F64, 0x5B0F, {0x8F, 0x00, 0x5D, 0x77, 0xAF, 0xBE, 0x26, 0x1E}};
/// CLSID_MsftDiscRecorder2 {2735412D-7F64-5B0F-8F00-5D77AFBE261E}.
inline constexpr CLSID kClsidMsftDiscRecorder2 = {
    0x2735412D, 0x7F64, 0x5B0F, {0x8F, 0x00, 0x5D, 0x77, 0xAF, 0xBE, 0x26, 0x1E}};
/// IID_IDiscRecorder2 {27354133-7F64-5B0F-8F00-5D77AFBE261E}.
inline constexpr IID kIidDiscRecorder2 = {
    0x27354133, 0x7F64, 0x5B0F, {0x8F, 0x00, 0x5D, 0x77, 0xAF, 0xBE, 0x26, 0x1E}};
/// CLSID_MsftDiscFormat2Data {2735412A-7F64-5B0F-8F00-5D77AFBE261E}.
inline constexpr CLSID kClsidMsftDiscFormat2Data = {
    0x2735412A, 0x7F64, 0x5B0F, {0x8F, 0x00, 0x5D, 0x77, 0xAF, 0xBE, 0x26, 0x1E}};
/// IID_IDiscFormat2 {27354152-8F64-5B0F-8F00-5D77AFBE261E} (Data2 is 0x8F64).
inline constexpr IID kIidDiscFormat2 = {
    0x27354152, 0x8F64, 0x5B0F, {0x8F, 0x00, 0x5D, 0x77, 0xAF, 0xBE, 0x26, 0x1E}};
/// IID_IDiscFormat2Data {27354153-9F64-5B0F-8F00-5D77AFBE261E} (Data2 is 0x9F64).
inline constexpr IID kIidDiscFormat2Data = {
    0x27354153, 0x9F64, 0x5B0F, {0x8F, 0x00, 0x5D, 0x77, 0xAF, 0xBE, 0x26, 0x1E}};

struct IDiscRecorder;
struct IEnumDiscRecorders;
/// The progress sink of IDiscMaster::ProgressAdvise; never implemented here, only named.
struct IDiscMasterProgressEvents;

/// IEnumDiscMasterFormats: the format interfaces a disc master offers (7 slots).
struct IEnumDiscMasterFormats : public IUnknown {
  /// Slot 3: up to `count` format IIDs into `formats`.
  virtual HRESULT STDMETHODCALLTYPE Next(ULONG count, IID* formats, ULONG* fetched) = 0;
  /// Slot 4.
  virtual HRESULT STDMETHODCALLTYPE Skip(ULONG count) = 0;
  /// Slot 5.
  virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
  /// Slot 6.
  virtual HRESULT STDMETHODCALLTYPE Clone(IEnumDiscMasterFormats** clone) = 0;
};

/// IEnumDiscRecorders (7 slots).
struct IEnumDiscRecorders : public IUnknown {
  /// Slot 3: up to `count` recorders into the array `recorders`.
  virtual HRESULT STDMETHODCALLTYPE Next(ULONG count, IDiscRecorder** recorders,
                                         ULONG* fetched) = 0;
  /// Slot 4.
  virtual HRESULT STDMETHODCALLTYPE Skip(ULONG count) = 0;
  /// Slot 5.
  virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
  /// Slot 6.
  virtual HRESULT STDMETHODCALLTYPE Clone(IEnumDiscRecorders** clone) = 0;
};

/// IDiscRecorder: one CD recorder (18 slots).
struct IDiscRecorder : public IUnknown {
  /// Slot 3.
  virtual HRESULT STDMETHODCALLTYPE Init(byte* uniqueId, ULONG idSize, ULONG driveNumber) = 0;
  /// Slot 4.
  virtual HRESULT STDMETHODCALLTYPE GetRecorderGUID(byte* uniqueId, ULONG bufferSize,
                                                    ULONG* sizeRequired) = 0;
  /// Slot 5.
  virtual HRESULT STDMETHODCALLTYPE GetRecorderType(long* typeCode) = 0;
  /// Slot 6.
  virtual HRESULT STDMETHODCALLTYPE GetDisplayNames(BSTR* vendorId, BSTR* productId,
                                                    BSTR* revision) = 0;
  /// Slot 7.
  virtual HRESULT STDMETHODCALLTYPE GetBasePnPID(BSTR* basePnpId) = 0;
  /// Slot 8: the recorder's device path, allocated with SysAllocString.
  virtual HRESULT STDMETHODCALLTYPE GetPath(BSTR* path) = 0;
  /// Slot 9.
  virtual HRESULT STDMETHODCALLTYPE GetRecorderProperties(IPropertyStorage** properties) = 0;
  /// Slot 10.
  virtual HRESULT STDMETHODCALLTYPE SetRecorderProperties(IPropertyStorage* properties) = 0;
  /// Slot 11.
  virtual HRESULT STDMETHODCALLTYPE GetRecorderState(ULONG* stateFlags) = 0;
  /// Slot 12.
  virtual HRESULT STDMETHODCALLTYPE OpenExclusive() = 0;
  /// Slot 13.
  virtual HRESULT STDMETHODCALLTYPE QueryMediaType(long* mediaType, long* mediaFlags) = 0;
  /// Slot 14.
  virtual HRESULT STDMETHODCALLTYPE QueryMediaInfo(byte* sessions, byte* lastTrack,
                                                   ULONG* startAddress, ULONG* nextWritable,
                                                   ULONG* freeBlocks) = 0;
  /// Slot 15.
  virtual HRESULT STDMETHODCALLTYPE Eject() = 0;
  /// Slot 16.
  virtual HRESULT STDMETHODCALLTYPE Erase(boolean fullErase) = 0;
  /// Slot 17.
  virtual HRESULT STDMETHODCALLTYPE Close() = 0;
};

/// IDiscMaster: the Windows XP mastering service (15 slots).
struct IDiscMaster : public IUnknown {
  /// Slot 3.
  virtual HRESULT STDMETHODCALLTYPE Open() = 0;
  /// Slot 4.
  virtual HRESULT STDMETHODCALLTYPE EnumDiscMasterFormats(IEnumDiscMasterFormats** formats) = 0;
  /// Slot 5.
  virtual HRESULT STDMETHODCALLTYPE GetActiveDiscMasterFormat(IID* format) = 0;
  /// Slot 6: `format` is the interface of type `riid`.
  virtual HRESULT STDMETHODCALLTYPE SetActiveDiscMasterFormat(REFIID riid, void** format) = 0;
  /// Slot 7.
  virtual HRESULT STDMETHODCALLTYPE EnumDiscRecorders(IEnumDiscRecorders** recorders) = 0;
  /// Slot 8.
  virtual HRESULT STDMETHODCALLTYPE GetActiveDiscRecorder(IDiscRecorder** recorder) = 0;
  /// Slot 9.
  virtual HRESULT STDMETHODCALLTYPE SetActiveDiscRecorder(IDiscRecorder* recorder) = 0;
  /// Slot 10.
  virtual HRESULT STDMETHODCALLTYPE ClearFormatContent() = 0;
  /// Slot 11.
  virtual HRESULT STDMETHODCALLTYPE ProgressAdvise(IDiscMasterProgressEvents* events,
                                                   UINT_PTR* cookie) = 0;
  /// Slot 12.
  virtual HRESULT STDMETHODCALLTYPE ProgressUnadvise(UINT_PTR cookie) = 0;
  /// Slot 13.
  virtual HRESULT STDMETHODCALLTYPE RecordDisc(boolean simulate, boolean ejectAfterBurn) = 0;
  /// Slot 14.
  virtual HRESULT STDMETHODCALLTYPE Close() = 0;
};

/// IJolietDiscMaster: the data (Joliet) format of IDiscMaster (9 slots).
struct IJolietDiscMaster : public IUnknown {
  /// Slot 3.
  virtual HRESULT STDMETHODCALLTYPE GetTotalDataBlocks(long* blocks) = 0;
  /// Slot 4.
  virtual HRESULT STDMETHODCALLTYPE GetUsedDataBlocks(long* blocks) = 0;
  /// Slot 5.
  virtual HRESULT STDMETHODCALLTYPE GetDataBlockSize(long* blockBytes) = 0;
  /// Slot 6: stages the files of `storage` for the disc.
  virtual HRESULT STDMETHODCALLTYPE AddData(IStorage* storage, long fileOverwrite) = 0;
  /// Slot 7.
  virtual HRESULT STDMETHODCALLTYPE GetJolietProperties(IPropertyStorage** properties) = 0;
  /// Slot 8.
  virtual HRESULT STDMETHODCALLTYPE SetJolietProperties(IPropertyStorage* properties) = 0;
};

/// IDiscMaster2: the recorders of Windows Vista and later (11 slots with IDispatch's).
struct IDiscMaster2 : public IDispatch {
  /// Slot 7 (the property name has two underscores).
  virtual HRESULT STDMETHODCALLTYPE get__NewEnum(IEnumVARIANT** enumerator) = 0;
  /// Slot 8: the unique id of the recorder at `index`.
  virtual HRESULT STDMETHODCALLTYPE get_Item(LONG index, BSTR* uniqueId) = 0;
  /// Slot 9.
  virtual HRESULT STDMETHODCALLTYPE get_Count(LONG* count) = 0;
  /// Slot 10.
  virtual HRESULT STDMETHODCALLTYPE get_IsSupportedEnvironment(VARIANT_BOOL* supported) = 0;
};

/// IDiscRecorder2 (28 slots with IDispatch's).
struct IDiscRecorder2 : public IDispatch {
  /// Slot 7.
  virtual HRESULT STDMETHODCALLTYPE EjectMedia() = 0;
  /// Slot 8.
  virtual HRESULT STDMETHODCALLTYPE CloseTray() = 0;
  /// Slot 9.
  virtual HRESULT STDMETHODCALLTYPE AcquireExclusiveAccess(VARIANT_BOOL force, BSTR clientName) = 0;
  /// Slot 10.
  virtual HRESULT STDMETHODCALLTYPE ReleaseExclusiveAccess() = 0;
  /// Slot 11.
  virtual HRESULT STDMETHODCALLTYPE DisableMcn() = 0;
  /// Slot 12.
  virtual HRESULT STDMETHODCALLTYPE EnableMcn() = 0;
  /// Slot 13.
  virtual HRESULT STDMETHODCALLTYPE InitializeDiscRecorder(BSTR recorderUniqueId) = 0;
  /// Slot 14.
  virtual HRESULT STDMETHODCALLTYPE get_ActiveDiscRecorder(BSTR* value) = 0;
  /// Slot 15.
  virtual HRESULT STDMETHODCALLTYPE get_VendorId(BSTR* value) = 0;
  /// Slot 16.
  virtual HRESULT STDMETHODCALLTYPE get_ProductId(BSTR* value) = 0;
  /// Slot 17.
  virtual HRESULT STDMETHODCALLTYPE get_ProductRevision(BSTR* value) = 0;
  /// Slot 18.
  virtual HRESULT STDMETHODCALLTYPE get_VolumeName(BSTR* value) = 0;
  /// Slot 19.
  virtual HRESULT STDMETHODCALLTYPE get_VolumePathNames(SAFEARRAY** value) = 0;
  /// Slot 20.
  virtual HRESULT STDMETHODCALLTYPE get_DeviceCanLoadMedia(VARIANT_BOOL* value) = 0;
  /// Slot 21.
  virtual HRESULT STDMETHODCALLTYPE get_LegacyDeviceNumber(LONG* legacyDeviceNumber) = 0;
  /// Slot 22.
  virtual HRESULT STDMETHODCALLTYPE get_SupportedFeaturePages(SAFEARRAY** value) = 0;
  /// Slot 23.
  virtual HRESULT STDMETHODCALLTYPE get_CurrentFeaturePages(SAFEARRAY** value) = 0;
  /// Slot 24.
  virtual HRESULT STDMETHODCALLTYPE get_SupportedProfiles(SAFEARRAY** value) = 0;
  /// Slot 25.
  virtual HRESULT STDMETHODCALLTYPE get_CurrentProfiles(SAFEARRAY** value) = 0;
  /// Slot 26.
  virtual HRESULT STDMETHODCALLTYPE get_SupportedModePages(SAFEARRAY** value) = 0;
  /// Slot 27.
  virtual HRESULT STDMETHODCALLTYPE get_ExclusiveAccessOwner(BSTR* value) = 0;
};

/// IDiscFormat2: what every IMAPI2 format shares (12 slots with IDispatch's).
struct IDiscFormat2 : public IDispatch {
  /// Slot 7.
  virtual HRESULT STDMETHODCALLTYPE IsRecorderSupported(IDiscRecorder2* recorder,
                                                        VARIANT_BOOL* value) = 0;
  /// Slot 8.
  virtual HRESULT STDMETHODCALLTYPE IsCurrentMediaSupported(IDiscRecorder2* recorder,
                                                            VARIANT_BOOL* value) = 0;
  /// Slot 9.
  virtual HRESULT STDMETHODCALLTYPE get_MediaPhysicallyBlank(VARIANT_BOOL* value) = 0;
  /// Slot 10.
  virtual HRESULT STDMETHODCALLTYPE get_MediaHeuristicallyBlank(VARIANT_BOOL* value) = 0;
  /// Slot 11.
  virtual HRESULT STDMETHODCALLTYPE get_SupportedMediaTypes(SAFEARRAY** value) = 0;
};

/// IDiscFormat2Data: writes a data stream to a disc (44 slots with its bases'). The three
/// enumeration outputs (media state, write protection, physical type) are 32-bit enums;
/// they are typed LONG here because nothing here reads them.
struct IDiscFormat2Data : public IDiscFormat2 {
  /// Slot 12.
  virtual HRESULT STDMETHODCALLTYPE put_Recorder(IDiscRecorder2* value) = 0;
  /// Slot 13.
  virtual HRESULT STDMETHODCALLTYPE get_Recorder(IDiscRecorder2** value) = 0;
  /// Slot 14.
  virtual HRESULT STDMETHODCALLTYPE put_BufferUnderrunFreeDisabled(VARIANT_BOOL value) = 0;
  /// Slot 15.
  virtual HRESULT STDMETHODCALLTYPE get_BufferUnderrunFreeDisabled(VARIANT_BOOL* value) = 0;
  /// Slot 16.
  virtual HRESULT STDMETHODCALLTYPE put_PostgapAlreadyInImage(VARIANT_BOOL value) = 0;
  /// Slot 17.
  virtual HRESULT STDMETHODCALLTYPE get_PostgapAlreadyInImage(VARIANT_BOOL* value) = 0;
  /// Slot 18: IMAPI_FORMAT2_DATA_MEDIA_STATE flags.
  virtual HRESULT STDMETHODCALLTYPE get_CurrentMediaStatus(LONG* value) = 0;
  /// Slot 19: IMAPI_MEDIA_WRITE_PROTECT_STATE flags.
  virtual HRESULT STDMETHODCALLTYPE get_WriteProtectStatus(LONG* value) = 0;
  /// Slot 20.
  virtual HRESULT STDMETHODCALLTYPE get_TotalSectorsOnMedia(LONG* value) = 0;
  /// Slot 21.
  virtual HRESULT STDMETHODCALLTYPE get_FreeSectorsOnMedia(LONG* value) = 0;
  /// Slot 22.
  virtual HRESULT STDMETHODCALLTYPE get_NextWritableAddress(LONG* value) = 0;
  /// Slot 23.
  virtual HRESULT STDMETHODCALLTYPE get_StartAddressOfPreviousSession(LONG* value) = 0;
  /// Slot 24.
  virtual HRESULT STDMETHODCALLTYPE get_LastWrittenAddressOfPreviousSession(LONG* value) = 0;
  /// Slot 25.
  virtual HRESULT STDMETHODCALLTYPE put_ForceMediaToBeClosed(VARIANT_BOOL value) = 0;
  /// Slot 26.
  virtual HRESULT STDMETHODCALLTYPE get_ForceMediaToBeClosed(VARIANT_BOOL* value) = 0;
  /// Slot 27.
  virtual HRESULT STDMETHODCALLTYPE put_DisableConsumerDvdCompatibilityMode(VARIANT_BOOL value) = 0;
  /// Slot 28.
  virtual HRESULT STDMETHODCALLTYPE
  get_DisableConsumerDvdCompatibilityMode(VARIANT_BOOL* value) = 0;
  /// Slot 29: an IMAPI_MEDIA_PHYSICAL_TYPE.
  virtual HRESULT STDMETHODCALLTYPE get_CurrentPhysicalMediaType(LONG* value) = 0;
  /// Slot 30.
  virtual HRESULT STDMETHODCALLTYPE put_ClientName(BSTR value) = 0;
  /// Slot 31.
  virtual HRESULT STDMETHODCALLTYPE get_ClientName(BSTR* value) = 0;
  /// Slot 32.
  virtual HRESULT STDMETHODCALLTYPE get_RequestedWriteSpeed(LONG* value) = 0;
  /// Slot 33.
  virtual HRESULT STDMETHODCALLTYPE get_RequestedRotationTypeIsPureCAV(VARIANT_BOOL* value) = 0;
  /// Slot 34.
  virtual HRESULT STDMETHODCALLTYPE get_CurrentWriteSpeed(LONG* value) = 0;
  /// Slot 35.
  virtual HRESULT STDMETHODCALLTYPE get_CurrentRotationTypeIsPureCAV(VARIANT_BOOL* value) = 0;
  /// Slot 36.
  virtual HRESULT STDMETHODCALLTYPE get_SupportedWriteSpeeds(SAFEARRAY** supportedSpeeds) = 0;
  /// Slot 37.
  virtual HRESULT STDMETHODCALLTYPE
  get_SupportedWriteSpeedDescriptors(SAFEARRAY** supportedSpeedDescriptors) = 0;
  /// Slot 38.
  virtual HRESULT STDMETHODCALLTYPE put_ForceOverwrite(VARIANT_BOOL value) = 0;
  /// Slot 39.
  virtual HRESULT STDMETHODCALLTYPE get_ForceOverwrite(VARIANT_BOOL* value) = 0;
  /// Slot 40.
  virtual HRESULT STDMETHODCALLTYPE get_MultisessionInterfaces(SAFEARRAY** value) = 0;
  /// Slot 41: writes the whole stream (a multiple of 2048 bytes); returns when done.
  virtual HRESULT STDMETHODCALLTYPE Write(IStream* data) = 0;
  /// Slot 42.
  virtual HRESULT STDMETHODCALLTYPE CancelWrite() = 0;
  /// Slot 43.
  virtual HRESULT STDMETHODCALLTYPE SetWriteSpeed(LONG requestedSectorsPerSecond,
                                                  VARIANT_BOOL rotationTypeIsPureCav) = 0;
};

}  // namespace platform::imapi
