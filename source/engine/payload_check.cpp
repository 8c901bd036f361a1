#include "engine/payload_check.h"

#include "engine/payload_checksum.h"
#include "resource_ids.h"

bool PayloadChecksumsHold(HMODULE module, const void* program, std::size_t programSize, const void* work,
                          std::size_t workSize) {
  const HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(IDR_PAYLOAD_CHECKSUMS), "Binary");
  if (resource == nullptr) return false;
  const HGLOBAL loaded = LoadResource(module, resource);
  const void* sums = loaded ? LockResource(loaded) : nullptr;
  return sums != nullptr &&
         PayloadChecksumsMatch(sums, SizeofResource(module, resource), program, programSize, work, workSize);
}
