#include "platform/win32/Win32OutputFile.h"

#include <windows.h>

#include <cctype>

namespace platform {

namespace {

// WriteFile moves a DWORD of bytes at most; pieces of 1 MB keep each call modest.
constexpr size_t kWritePieceBytes = 0x100000;

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// Whether the path names a device by itself: the \\.\ device namespace (\\.\A:,
// \\.\PhysicalDrive1, \\.\pipe\x), or a reserved name such as CON or NUL, which Windows
// takes as the device in any folder and with any extension.
bool IsDevicePath(const std::string& path) {
  if (path.size() >= 4 && IsSeparator(path[0]) && IsSeparator(path[1]) &&
      (path[2] == '.' || path[2] == '?') && IsSeparator(path[3])) {
    // \\?\C:\... is an ordinary file path written in the long form.
    const bool driveFile =
        path[2] == '?' && path.size() >= 7 && path[5] == ':' && IsSeparator(path[6]);
    return !driveFile;
  }
  size_t start = path.find_last_of("\\/:");
  start = start == std::string::npos ? 0 : start + 1;
  std::string base = Upper(path.substr(start, path.find('.', start) - start));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  static const char* const kReserved[] = {"CON",    "PRN",     "AUX",   "NUL",
                                          "CONIN$", "CONOUT$", "CLOCK$"};
  for (const char* name : kReserved) {
    if (base == name) return true;
  }
  return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
         base[3] >= '1' && base[3] <= '9';
}

bool WriteAll(HANDLE handle, const uint8_t* data, size_t size, std::string* error) {
  size_t done = 0;
  while (done < size) {
    const DWORD piece =
        static_cast<DWORD>(size - done > kWritePieceBytes ? kWritePieceBytes : size - done);
    DWORD put = 0;
    if (!WriteFile(handle, data + done, piece, &put, nullptr)) {
      *error = LastErrorText();
      return false;
    }
    if (put == 0) {
      *error = "the disk is full";
      return false;
    }
    done += put;
  }
  return true;
}

class PartialFile : public OutputFile {
 public:
  PartialFile(std::string target, std::string partial, HANDLE handle)
      : target_(std::move(target)), partial_(std::move(partial)), handle_(handle) {}
  ~PartialFile() override {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    if (!committed_) DeleteFileA(partial_.c_str());
  }

  bool Write(const uint8_t* data, size_t size, std::string* error) override {
    return handle_ != INVALID_HANDLE_VALUE && WriteAll(handle_, data, size, error);
  }

  bool Commit(std::string* error) override {
    HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    if (handle == INVALID_HANDLE_VALUE || !FlushFileBuffers(handle)) {
      *error = LastErrorText();
      if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
      return false;
    }
    if (!CloseHandle(handle)) {
      *error = LastErrorText();
      return false;
    }
    // The target was checked before the build; it may have changed since.
    const PathKind now = Win32PathKind(target_);
    if (now != PathKind::Missing && now != PathKind::RegularFile) {
      *error = "it is no longer a regular file, so it was not replaced";
      return false;
    }
    if (!MoveFileExA(partial_.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING)) {
      // Windows 95 has MoveFileExA only as a stub: there the old file goes first.
      if (GetLastError() != ERROR_CALL_NOT_IMPLEMENTED ||
          (now == PathKind::RegularFile && !DeleteFileA(target_.c_str())) ||
          !MoveFileA(partial_.c_str(), target_.c_str())) {
        *error = LastErrorText();
        return false;
      }
    }
    committed_ = true;
    return true;
  }

 private:
  std::string target_;
  std::string partial_;
  HANDLE handle_;
  bool committed_ = false;
};

class StandardOutputFile : public OutputFile {
 public:
  explicit StandardOutputFile(HANDLE handle) : handle_(handle) {}
  // WriteFile on the handle itself: no run-time text mode can touch the image's bytes.
  bool Write(const uint8_t* data, size_t size, std::string* error) override {
    return WriteAll(handle_, data, size, error);
  }
  bool Commit(std::string*) override { return true; }

 private:
  HANDLE handle_;
};

}  // namespace

std::string LastErrorText() {
  const DWORD code = GetLastError();
  char text[256] = {};
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, code, 0, text, sizeof text, nullptr);
  std::string result(text, length);
  while (!result.empty() && (result.back() == '\n' || result.back() == '\r' ||
                             result.back() == ' ' || result.back() == '.')) {
    result.pop_back();
  }
  if (result.empty()) result = "Windows error " + std::to_string(code);
  return result;
}

PathKind Win32PathKind(const std::string& path) {
  if (IsDevicePath(path)) return PathKind::Device;
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::Missing;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return PathKind::Directory;
  // Opened without access rights only to ask what it is.
  HANDLE handle = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return PathKind::RegularFile;
  const DWORD type = GetFileType(handle);
  CloseHandle(handle);
  if (type == FILE_TYPE_CHAR) return PathKind::Device;
  if (type == FILE_TYPE_PIPE) return PathKind::Pipe;
  return PathKind::RegularFile;
}

std::unique_ptr<OutputFile> CreateWin32Output(const std::string& path, std::string* error) {
  const std::string partial = path + ".partial";
  // CREATE_NEW: an existing file of that name is neither opened nor truncated.
  HANDLE handle = CreateFileA(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    *error = code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS
                 ? "'" + partial +
                       "' already exists (another export may be writing it, or one was "
                       "interrupted); remove it and try again"
                 : LastErrorText();
    return nullptr;
  }
  return std::make_unique<PartialFile>(path, partial, handle);
}

std::unique_ptr<OutputFile> Win32StandardOutput(std::string* error) {
  HANDLE handle = GetStdHandle(STD_OUTPUT_HANDLE);
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr) {
    *error = "there is no standard output";
    return nullptr;
  }
  if (GetFileType(handle) == FILE_TYPE_CHAR) {
    *error = "standard output is a console; send the image to a file or a pipe";
    return nullptr;
  }
  return std::make_unique<StandardOutputFile>(handle);
}

}  // namespace platform
