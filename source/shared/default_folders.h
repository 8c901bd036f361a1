// The folders a new installation proposes when the user names none: the settings page
// shows them, and an unattended installation takes them.
#pragma once

// installDir := the value of PROGRAMFILES followed by "\Tarkweller\Velmorix". A variable
// that is not set, or one too long for the tail, leaves the field unchanged: a cut
// folder name would install somewhere else than shown.
void SetDefaultInstallFolder(char* installDir);

// workDir := the value of ALLUSERSPROFILE followed by the same tail on Windows 6.0 and
// later (unchanged when that variable is not set or too long), else a copy of installDir.
void SetDefaultWorkFolder(char* workDir, const char* installDir);
