// Test builds only: when VELMORIX_ACCESS_TRACE names a file, every applied access
// list is appended to it as "<folder>\t<SDDL of the list>" and a line end.
#include "shared/access_trace.h"

#include <sddl.h>

#include <cstring>

#include "shared/path_buffer.h"
#include "shared/raii.h"

namespace {

const char* AccessTracePath() {
  static const struct TracePath {
    char text[kPathCapacity] = {};
    TracePath() {
      const DWORD length = GetEnvironmentVariableA("VELMORIX_ACCESS_TRACE", text, sizeof(text));
      if (length == 0 || length >= sizeof(text)) text[0] = '\0';
    }
  } trace;
  return trace.text[0] ? trace.text : nullptr;
}

// Appends "<folder>\t<sddl>" and a line end to the trace file.
void AppendTraceLine(const char* tracePath, const char* folder, const char* sddl) {
  UniqueHandle file(CreateFileA(tracePath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return;
  const char* parts[] = {folder, "\t", sddl, "\r\n"};
  for (const char* part : parts) {
    DWORD written = 0;
    if (!WriteFile(file.Get(), part, static_cast<DWORD>(std::strlen(part)), &written, nullptr)) return;
  }
}

void TraceDescriptor(const char* folder, PSECURITY_DESCRIPTOR descriptor, SECURITY_INFORMATION parts) {
  const char* tracePath = AccessTracePath();
  if (tracePath == nullptr) return;
  LPSTR sddl = nullptr;
  if (!ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1, parts, &sddl, nullptr)) return;
  UniqueLocal sddlOwner(sddl);
  AppendTraceLine(tracePath, folder, sddl);
}

}  // namespace

void TraceAppliedAccessList(const char* folder, PACL list) {
  SECURITY_DESCRIPTOR descriptor;
  if (!InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorDacl(&descriptor, TRUE, list, FALSE))
    return;
  TraceDescriptor(folder, &descriptor, DACL_SECURITY_INFORMATION);
}

void TraceAppliedDescriptor(const char* folder, PSECURITY_DESCRIPTOR descriptor) {
  TraceDescriptor(folder, descriptor, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION);
}
