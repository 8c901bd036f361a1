#include "shared/access_trace.h"

void TraceAppliedAccessList(const char*, PACL) {}
