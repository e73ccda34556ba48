// The fuzzer's bytes as an install.dat held in memory, read through the real reader with
// no lookup pause, and no buffer granted beyond a generous CD image.
#pragma once

#include "datafile/DataFile.h"
#include "tests/fakes/FakeFileSystem.h"
#include "tests/fakes/FakeSystem.h"

namespace fuzzsupport {

struct FuzzDataFile {
  FuzzDataFile(const uint8_t* data, size_t size) {
    datafile::TakeDataFileError();
    files.Add("install.dat", std::vector<uint8_t>(data, data + size));
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
