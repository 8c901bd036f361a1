// How the wizard tells the user that a chosen folder cannot be used.
#pragma once
#include <windows.h>

// The folder, a line feed, then the sentence, in an error box owned by `owner`.
void ShowFolderFailure(HWND owner, const char* path, const char* sentence);
