// The Windows disc recording's seams: where its COM objects come from, and the IStream
// inside one of its streams. The product uses MakeHostDiscRecording (CoCreateInstance);
// the tests hand in their own objects and read streams back through COM.
#pragma once

#include <windows.h>

#include <objidl.h>

// winbase.h renames QueryDosDevice to QueryDosDeviceA; the DiscRecording method keeps its
// own name in every file that sees this header.
#undef QueryDosDevice

#include <functional>
#include <memory>

#include "platform/DiscRecording.h"

namespace platform {

/// CoCreateInstance without the aggregating outer object: class, context (CLSCTX_*),
/// interface, and the interface pointer returned.
using ComCreateFunction =
    std::function<HRESULT(REFCLSID classId, DWORD context, REFIID interfaceId, void** object)>;

/// The Windows disc recording, creating its COM objects through `create`.
std::unique_ptr<DiscRecording> MakeWin32DiscRecording(ComCreateFunction create);

/// The IStream that a stream of the Windows disc recording holds (no new reference), or
/// null for a stream of another kind.
IStream* Win32StreamInterface(DiscStream& stream);

}  // namespace platform
