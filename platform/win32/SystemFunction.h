// System functions that only some Windows versions export. Importing one of them would
// make the loader refuse to start the program on every version that lacks it, so the
// paths that need them look them up when they run, and fail their own way without them.
#pragma once

#include <windows.h>

namespace platform {

/// The address of `name` in the system DLL `dll`, or null when this Windows lacks either.
/// `Function` is the function's pointer type, with its calling convention.
template <typename Function>
Function FindSystemFunction(const char* dll, const char* name) {
  HMODULE module = GetModuleHandleA(dll);
  if (module == nullptr) module = LoadLibraryA(dll);
  if (module == nullptr) return nullptr;
  // GetProcAddress's result type says nothing about the function; the generic function
  // pointer in between keeps the compiler from comparing the two signatures.
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

}  // namespace platform
