// The last page: starts the installation worker, lets the user cancel it, and
// finishes (starting the program) or reports the failure and removes the files.
#pragma once
#include "wizard/page_frame.h"

// What the page does with the messages of its dialog (see PageProcedure).
extern const PageHandlers kProgressPageHandlers;

// Opens the page in place of `current`. Its bars are common controls, whose library
// is loaded (from the system folder, by its full path) only now: loaded while the
// wizard starts, it would hold the loader lock that the payload's decoding threads
// wait for as they start.
HWND OpenProgressPage(HINSTANCE instance, HWND current);
