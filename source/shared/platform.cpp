#include "shared/platform.h"

bool Detect64BitWindows() {
  SYSTEM_INFO info{};
  using NativeInfoProc = void(WINAPI*)(LPSYSTEM_INFO);
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  FARPROC found = kernel ? GetProcAddress(kernel, "GetNativeSystemInfo") : nullptr;
  if (found) {
    // GetProcAddress hands out a generic pointer; the real signature is known.
    reinterpret_cast<NativeInfoProc>(reinterpret_cast<void*>(found))(&info);
  } else {
    GetSystemInfo(&info);
  }
  return info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64 ||
         info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_IA64;
}

bool IsVistaOrLater() {
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof(version);  // 148 bytes, the ANSI record
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!GetVersionExA(&version)) return false;
#pragma GCC diagnostic pop
  return version.dwMajorVersion >= 6;
}

REGSAM RegistryWriteAccess(bool is64BitWindows) {
  return KEY_WRITE | (is64BitWindows ? KEY_WOW64_64KEY : 0);
}

REGSAM RegistryReadAccess(bool is64BitWindows) {
  return KEY_READ | (is64BitWindows ? KEY_WOW64_64KEY : 0);
}
