// The real back ends of the machine the program runs on; the build picks the Windows or
// the Linux implementation.
#pragma once

#include <memory>

#include "platform/DeviceIo.h"
#include "platform/File.h"
#include "platform/Graphics.h"
#include "platform/System.h"

namespace platform {

// Declared here, defined in platform/DiscRecording.h: the Windows headers rename one of its
// methods by macro, so files that include them must not see its definition by accident.
class DiscRecording;

std::unique_ptr<FileSystem> MakeHostFileSystem();
std::unique_ptr<System> MakeHostSystem();
std::unique_ptr<Graphics> MakeHostGraphics();
std::unique_ptr<DeviceIo> MakeHostDeviceIo();
std::unique_ptr<DiscRecording> MakeHostDiscRecording();

}  // namespace platform
