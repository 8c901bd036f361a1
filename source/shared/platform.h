// Facts about the Windows the installer runs on.
#pragma once
#include <windows.h>

// True on 64-bit Windows (x64 or Itanium), also for this 32-bit process under WOW64.
bool Detect64BitWindows();

// True when the version query succeeds and the major version is 6 (Vista) or later.
bool IsVistaOrLater();

// KEY_WRITE, with KEY_WOW64_64KEY on 64-bit Windows: the view every written key lands in.
REGSAM RegistryWriteAccess(bool is64BitWindows);
// KEY_READ with the same view flag.
REGSAM RegistryReadAccess(bool is64BitWindows);
