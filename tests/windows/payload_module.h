// A payload module for the worker: a copy of the test program with the archives as
// its resources, loaded as a data file.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "engine/install_worker.h"
#include "engine/payload_checksum.h"
#include "engine_test_support.h"
#include "resource_ids.h"

namespace enginetest {

// Resource 111 of a payload module: the sums of its archives, sums that do not
// match them, or none.
enum class Sums { Matching, Wrong, Missing };

// A copy of this test program with the given archives as its "Binary" resources,
// loaded as a data file and handed to the worker.
class PayloadModule {
 public:
  PayloadModule(const std::vector<unsigned char>* program, const std::vector<unsigned char>* work,
                Sums sums = Sums::Matching) {
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    path_ = folder_ / "payload.exe";
    if (!CopyFileA(self, path_.c_str(), FALSE)) return;
    HANDLE update = BeginUpdateResourceA(path_.c_str(), FALSE);
    if (update == nullptr) return;
    const WORD language = MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT);
    if (program)
      UpdateResourceA(update, "BINARY", MAKEINTRESOURCEA(IDR_PROGRAM_ARCHIVE), language,
                      const_cast<unsigned char*>(program->data()), static_cast<DWORD>(program->size()));
    if (work)
      UpdateResourceA(update, "BINARY", MAKEINTRESOURCEA(IDR_WORK_ARCHIVE), language,
                      const_cast<unsigned char*>(work->data()), static_cast<DWORD>(work->size()));
    unsigned char checksums[kPayloadChecksumSize];
    EncodePayloadChecksums(program ? Crc32(program->data(), program->size()) : 0,
                           work ? Crc32(work->data(), work->size()) : 0, checksums);
    if (sums == Sums::Wrong) checksums[5] ^= 0x10;  // one bit of the work archive's sum
    if (sums != Sums::Missing)
      UpdateResourceA(update, "BINARY", MAKEINTRESOURCEA(IDR_PAYLOAD_CHECKSUMS), language, checksums,
                      sizeof(checksums));
    if (!EndUpdateResourceA(update, FALSE)) return;
    module_ = LoadLibraryExA(path_.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    SetPayloadModule(module_);
  }
  ~PayloadModule() {
    SetPayloadModule(nullptr);
    if (module_) FreeLibrary(module_);
  }
  PayloadModule(const PayloadModule&) = delete;
  PayloadModule& operator=(const PayloadModule&) = delete;
  bool Loaded() const { return module_ != nullptr; }
  // The copy, for another process to load.
  const std::string& Path() const { return path_; }

 private:
  TempFolder folder_;
  std::string path_;
  HMODULE module_ = nullptr;
};

}  // namespace enginetest
