// The Windows back ends for files, the clock, pauses and pictures.
#include <process.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "platform/Host.h"
#include "platform/SourceDateEpoch.h"
#include "platform/win32/Win32Bitmap.h"
#include "platform/win32/Win32OutputFile.h"

namespace platform {

namespace {

class Win32File : public File {
 public:
  explicit Win32File(HANDLE handle) : handle_(handle) {}
  ~Win32File() override { CloseHandle(handle_); }

  bool Seek(uint32_t offset) override {
    // The high part is passed so that offsets of 2 GB and more are not taken as negative.
    LONG high = 0;
    const DWORD low = SetFilePointer(handle_, static_cast<LONG>(offset), &high, FILE_BEGIN);
    return !(low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) && low == offset &&
           high == 0;
  }

  bool Read(void* buffer, uint32_t bytes, uint32_t* bytesRead) override {
    DWORD got = 0;
    const BOOL ok = ReadFile(handle_, buffer, bytes, &got, nullptr);
    *bytesRead = got;
    return ok != FALSE;
  }

  bool Size(uint64_t* bytes) override {
    // GetFileSize, not GetFileSizeEx: Windows 95 and NT 4.0 have only the older call. Its
    // low part may legitimately equal INVALID_FILE_SIZE, so the error code decides.
    DWORD high = 0;
    SetLastError(NO_ERROR);
    const DWORD low = GetFileSize(handle_, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return false;
    *bytes = (static_cast<uint64_t>(high) << 32) | low;
    return true;
  }

 private:
  HANDLE handle_;
};

class Win32FileSystem : public FileSystem {
 public:
  std::unique_ptr<File> Open(const std::string& path, const FileOpenFlags& flags) override {
    HANDLE handle = CreateFileA(path.c_str(), flags.access, flags.share, nullptr, flags.disposition,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<Win32File>(handle);
  }

  PathKind Kind(const std::string& path) override { return Win32PathKind(path); }
  std::unique_ptr<OutputFile> CreateOutput(const std::string& path, std::string* error) override {
    return CreateWin32Output(path, error);
  }
  std::unique_ptr<OutputFile> StandardOutput(std::string* error) override {
    return Win32StandardOutput(error);
  }
};

class Win32System : public System {
 public:
  bool GetVersion(VersionInfo* version) override {
    OSVERSIONINFOEXA info;
    ZeroMemory(&info, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;  // 156 bytes
    // A system that refuses the extended record leaves it zero: platform 0, build 0.
    const bool ok = GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info)) != FALSE;
    version->platformId = info.dwPlatformId;
    version->major = info.dwMajorVersion;
    version->build = info.dwBuildNumber;
    return ok;
  }

  uint32_t DriveType(const std::string& rootPath) override {
    return GetDriveTypeA(rootPath.c_str());
  }

  void Pause(uint32_t milliseconds) override { Sleep(milliseconds); }

  UtcTime UtcNow() override {
    const char* fixed = std::getenv("SOURCE_DATE_EPOCH");
    int64_t seconds = 0;
    if (fixed != nullptr && ParseSourceDateEpoch(fixed, &seconds)) {
      return UtcFromEpochSeconds(seconds);
    }
    SYSTEMTIME now;
    GetSystemTime(&now);
    UtcTime time;
    time.year = now.wYear;
    time.month = now.wMonth;
    time.day = now.wDay;
    time.hour = now.wHour;
    time.minute = now.wMinute;
    time.second = now.wSecond;
    time.millisecond = now.wMilliseconds;
    return time;
  }

  bool AllowAllocation(size_t) override { return true; }

  void Trace(const std::string& text) override {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
  }

  void* AllocatePages(size_t bytes) override {
    return VirtualAlloc(nullptr, bytes, MEM_COMMIT, PAGE_READWRITE);
  }

  void FreePages(void* pages) override {
    if (pages != nullptr) VirtualFree(pages, 0, MEM_RELEASE);
  }

  void SetCurrentThreadPriority(int priority) override {
    SetThreadPriority(GetCurrentThread(), priority);
  }

  bool StartThread(std::function<void()> body) override {
    // The run-time's thread start; the thread owns its body and frees it when it ends.
    auto* owned = new std::function<void()>(std::move(body));
    if (_beginthread(&Win32System::ThreadEntry, 0, owned) == static_cast<uintptr_t>(-1)) {
      delete owned;
      return false;
    }
    return true;
  }

  void ExitProcess(uint32_t code) override {
    std::fflush(nullptr);
    ::ExitProcess(code);
  }

 private:
  static void __cdecl ThreadEntry(void* argument) {
    std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(argument));
    (*body)();
  }
};

class Win32Graphics : public Graphics {
 public:
  std::unique_ptr<Bitmap> CreateDeviceBitmap(const DibView& dib) override {
    // A device-dependent bitmap for the screen, initialised from the stored pixel rows. The
    // info handed over runs on past the header: the colour table, or for a 16- or 32-bit
    // BI_BITFIELDS bitmap its three colour masks, which the system reads from there.
    HDC screen = GetDC(nullptr);
    if (screen == nullptr) return nullptr;
    const auto* info = reinterpret_cast<const BITMAPINFO*>(dib.info);
    HBITMAP bitmap =
        CreateDIBitmap(screen, &info->bmiHeader, CBM_INIT, dib.bits, info, DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    if (bitmap == nullptr) return nullptr;
    return std::make_unique<Win32Bitmap>(bitmap, dib.width,
                                         dib.height < 0 ? -dib.height : dib.height);
  }
};

}  // namespace

std::unique_ptr<FileSystem> MakeHostFileSystem() {
  return std::make_unique<Win32FileSystem>();
}
std::unique_ptr<System> MakeHostSystem() {
  return std::make_unique<Win32System>();
}
std::unique_ptr<Graphics> MakeHostGraphics() {
  return std::make_unique<Win32Graphics>();
}

}  // namespace platform
