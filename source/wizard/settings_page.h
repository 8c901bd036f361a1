// The second page: install folder, work folder and the two shortcuts.
#pragma once
#include "wizard/page_frame.h"

// What the page does with the messages of its dialog (see PageProcedure).
extern const PageHandlers kSettingsPageHandlers;
