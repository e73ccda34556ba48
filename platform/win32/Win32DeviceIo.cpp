// The Windows device back end: volume handles and VWIN32 through CreateFileA and
// DeviceIoControl, exactly as the floppy code asks for them.
#include <windows.h>

#include "platform/Host.h"

namespace platform {

namespace {

HANDLE AsHandle(DeviceHandle device) {
  return reinterpret_cast<HANDLE>(device);
}

class Win32DeviceIo : public DeviceIo {
 public:
  DeviceHandle Open(const std::string& path, const DeviceOpenFlags& flags) override {
    HANDLE handle = CreateFileA(path.c_str(), flags.access, flags.share, nullptr, flags.disposition,
                                flags.flagsAndAttributes, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return kInvalidDevice;
    return reinterpret_cast<DeviceHandle>(handle);
  }

  bool Control(DeviceHandle device, uint32_t code, void* in, uint32_t inBytes, void* out,
               uint32_t outBytes, uint32_t* bytesReturned) override {
    DWORD returned = 0;
    const BOOL ok =
        DeviceIoControl(AsHandle(device), code, in, inBytes, out, outBytes, &returned, nullptr);
    *bytesReturned = returned;
    return ok != FALSE;
  }

  bool Write(DeviceHandle device, const void* data, uint32_t bytes, uint32_t* written) override {
    DWORD put = 0;
    const BOOL ok = WriteFile(AsHandle(device), data, bytes, &put, nullptr);
    *written = put;
    return ok != FALSE;
  }

  void Close(DeviceHandle device) override {
    if (device != kInvalidDevice) CloseHandle(AsHandle(device));
  }

  uint32_t FlatAddress(void* block) override {
    // The 32-bit program's pointers are the flat addresses VWIN32 expects.
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(block));
  }
};

}  // namespace

std::unique_ptr<DeviceIo> MakeHostDeviceIo() {
  return std::make_unique<Win32DeviceIo>();
}

}  // namespace platform
