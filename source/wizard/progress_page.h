// The last page: starts the installation worker, lets the user cancel it, and
// finishes (starting the program) or reports the failure and removes the files.
#pragma once
#include "wizard/page_frame.h"

// What the page does with the messages of its dialog (see PageProcedure).
extern const PageHandlers kProgressPageHandlers;
