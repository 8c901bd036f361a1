#include "shared/access_trace.h"

void TraceAppliedAccessList(const char*, PACL) {}
void TraceAppliedDescriptor(const char*, PSECURITY_DESCRIPTOR) {}
