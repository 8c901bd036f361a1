// The outcome of taking back one thing an installation put on the machine.
#pragma once

enum class Removal {
  Removed,  // it was ours and is gone (or what it replaced is back)
  Absent,   // nothing was there any more
  NotOurs,  // something else stands there now: left alone
  Failed,   // it was ours but could not be taken back; see the code
};

struct RemovalResult {
  Removal outcome;
  unsigned long code;  // the system's code (Win32 error or HRESULT) when Failed, else 0
};

// The outcome of several removals together: Failed over NotOurs over Removed over
// Absent, keeping the code of the first failure.
RemovalResult CombineRemovals(RemovalResult sofar, RemovalResult next);
