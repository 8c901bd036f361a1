// A record of the access lists applied to folders. Wine accepts a folder's list but
// keeps none, so the end-to-end tests cannot read it back; a test build of the
// installer writes each list down instead. The installer that ships links the
// version that records nothing (access_trace_off.cpp); the test programs and the
// traced test installer link access_trace_file.cpp.
#pragma once
#include <windows.h>

void TraceAppliedAccessList(const char* folder, PACL list);
// The same for a whole descriptor (owner, and the list with its protection), as SDDL.
void TraceAppliedDescriptor(const char* folder, PSECURITY_DESCRIPTOR descriptor);
