// The sentence the user is shown for each cause of a failure (code page 1251). The
// one place that turns causes into words: a second language changes this table, not
// the engine.
#pragma once
#include "shared/failure_cause.h"

// The fixed text for `cause`; the empty string for None.
const char* FailureText(FailureCause cause);
