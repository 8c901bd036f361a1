// The first page: install, run without installing, reinstall or remove.
#pragma once
#include "wizard/page_frame.h"

// What the page does with the messages of its dialog (see PageProcedure).
extern const PageHandlers kModePageHandlers;
