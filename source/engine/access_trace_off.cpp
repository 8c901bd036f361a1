#include "engine/access_trace.h"

void TraceAppliedAccessList(const char*, PACL) {}
