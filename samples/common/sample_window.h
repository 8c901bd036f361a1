// What the two sample programs share: the folder they run from, and one window that
// shows a text until it is closed.
#pragma once
#include <windows.h>

// The folder of this executable, without a trailing backslash ("" if unknown).
void ModuleFolder(char (&folder)[MAX_PATH]);

// Registers `className`, shows a window titled `title` with `text`, and runs its
// message loop. Returns the exit code.
int RunTextWindow(HINSTANCE instance, int show, const char* className, const char* title, const char* text);
