// What the fuzz targets share: the fuzzer's bytes as an install.dat held in memory, read
// through the real reader with no lookup pause and a fixed clock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "datafile/DataFile.h"
#include "tests/fakes/FakeFileSystem.h"
#include "tests/fakes/FakeSystem.h"

namespace fuzzsupport {

struct FuzzDataFile {
  FuzzDataFile(const uint8_t* data, size_t size) {
    datafile::TakeDataFileError();
    files.Add("install.dat", std::vector<uint8_t>(data, data + size));
    // The fuzzer's own allocations stay within its memory limit: no buffer larger than a
    // generous CD image is granted.
    system.largestAllocation = 64u << 20;
    datafile::DataFileServices services;
    services.files = &files;
    services.system = &system;
    services.lookupPause = false;
    handle = datafile::OpenDataFile(services, "install.dat");
  }
  ~FuzzDataFile() { datafile::TakeDataFileError(); }

  fakes::FakeFileSystem files;
  fakes::FakeSystem system;
  std::unique_ptr<datafile::DataFile> handle;
};

}  // namespace fuzzsupport
