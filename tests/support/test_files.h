// Files and folders as tests of every Windows level handle them: existence, whole
// reads and writes, removal of a tree (never through a link), and links planted from
// the Linux side as a user could plant them (Wine only); and the keep folders runs
// leave at the root of C:.
#pragma once
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "shared/raii.h"

namespace testsupport {

inline bool FileExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

inline bool FolderExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

inline std::string ReadWholeFile(const std::string& path) {
  std::string content;
  const UniqueHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, 0, nullptr));
  if (!file) return content;
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(file.Get(), buffer, sizeof(buffer), &got, nullptr) && got > 0) content.append(buffer, got);
  return content;
}

inline bool ReadWholeFile(const std::string& path, std::vector<unsigned char>* bytes) {
  UniqueHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size{};
  if (!file || !GetFileSizeEx(file.Get(), &size) || size.QuadPart > 0x40000000) return false;
  bytes->assign(static_cast<std::size_t>(size.QuadPart), 0);
  DWORD read = 0;
  return bytes->empty() ||
         (ReadFile(file.Get(), bytes->data(), static_cast<DWORD>(bytes->size()), &read, nullptr) &&
          read == bytes->size());
}

inline bool WriteWholeFile(const std::string& path, const void* data, std::size_t size) {
  UniqueHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                nullptr));
  DWORD written = 0;
  return file && WriteFile(file.Get(), data, static_cast<DWORD>(size), &written, nullptr) && written == size;
}

inline bool WriteWholeFile(const std::string& path, const std::string& content) {
  return WriteWholeFile(path, content.data(), content.size());
}

// Starts a Linux program by its Unix path (Wine starts such a file as a Unix process);
// Wine only. `arguments` are quoted as Windows quotes them. Wine's handle to a Unix
// process cannot be waited for: callers wait for the program's effect.
inline bool RunUnixProgram(const std::string& program, const std::vector<std::string>& arguments) {
  std::string commandLine = "\"Z:" + program + "\"";
  for (const std::string& argument : arguments) commandLine += " \"" + argument + "\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return false;
  WaitForSingleObject(process.hProcess, 10000);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

// The Unix path Wine maps a Windows path to (the last component need not exist).
inline std::string UnixPathOf(const std::string& windowsPath) {
  using UnixName = char*(CDECL*)(LPCWSTR);
  const FARPROC found = GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name");
  if (found == nullptr) return std::string();
  std::wstring wide(windowsPath.size() + 1, L'\0');
  wide.resize(static_cast<std::size_t>(
      MultiByteToWideChar(CP_ACP, 0, windowsPath.c_str(), -1, &wide[0], static_cast<int>(wide.size()))));
  char* unix = reinterpret_cast<UnixName>(reinterpret_cast<void*>(found))(wide.c_str());
  if (unix == nullptr) return std::string();
  const std::string result = unix;
  HeapFree(GetProcessHeap(), 0, unix);
  return result;
}

// Waits until `path` exists (or, with `exists` false, is gone) as Wine sees it.
inline bool WaitForPath(const std::string& path, bool exists) {
  for (int i = 0; i < 500; ++i) {
    // A link to a folder shows its own attributes; one to nothing shows none.
    const bool there = GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (there == exists) return true;
    Sleep(10);
  }
  return false;
}

// A symbolic link at `linkPath` to `targetPath`, made from the Linux side as anyone
// who can write the folder could: Wine shows a link to a folder as a reparse point
// (attributes 0x410) and follows one to a file. Wine's own CreateSymbolicLink makes
// nothing.
inline bool PlantLink(const std::string& targetPath, const std::string& linkPath) {
  const std::string target = UnixPathOf(targetPath);
  const std::string link = UnixPathOf(linkPath);
  // Only where nothing stands yet (ln would put the link inside a folder standing there).
  return GetFileAttributesA(linkPath.c_str()) == INVALID_FILE_ATTRIBUTES && !target.empty() && !link.empty() &&
         RunUnixProgram("/bin/ln", {"-s", "-T", target, link}) && WaitForPath(linkPath, true);
}

// Removes a link planted by PlantLink, never what it points to (Wine's
// RemoveDirectory on a link to a folder removes the folder it points to).
inline bool RemoveLink(const std::string& linkPath) {
  const std::string link = UnixPathOf(linkPath);
  return !link.empty() && RunUnixProgram("/bin/rm", {"-f", link}) && WaitForPath(linkPath, false);
}

// A folder and everything in it, or a file; a planted link goes itself, and what it
// points to is never touched.
inline void DeleteTree(const std::string& path) {
  // A planted link goes itself; what it points to is never touched.
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    RemoveLink(path);
    return;
  }
  if (FileExists(path)) {
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(path.c_str());
    return;
  }
  if (!FolderExists(path)) return;
  WIN32_FIND_DATAA found{};
  {
    UniqueFind search(FindFirstFileA((path + "\\*").c_str(), &found));
    if (search) {
      do {
        if (std::strcmp(found.cFileName, ".") == 0 || std::strcmp(found.cFileName, "..") == 0) continue;
        // A link whose target went first has no attributes of its own path any more.
        if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
          RemoveLink(path + "\\" + found.cFileName);
          continue;
        }
        DeleteTree(path + "\\" + found.cFileName);
      } while (FindNextFileA(search.Get(), &found));
    }
  }
  RemoveDirectoryA(path.c_str());
}

// Every file below `folder`, hidden ones included, as paths relative to it, sorted.
inline std::vector<std::string> ListFiles(const std::string& folder, const std::string& prefix = std::string()) {
  std::vector<std::string> files;
  WIN32_FIND_DATAA found;
  const UniqueFind search(FindFirstFileA((folder + "\\*").c_str(), &found));
  if (!search) return files;
  do {
    const std::string name = found.cFileName;
    if (name == "." || name == "..") continue;
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      const std::vector<std::string> inner = ListFiles(folder + "\\" + name, prefix + name + "\\");
      files.insert(files.end(), inner.begin(), inner.end());
    } else {
      files.push_back(prefix + name);
    }
  } while (FindNextFileA(search.Get(), &found));
  std::sort(files.begin(), files.end());
  return files;
}

// The keep folders of runs at the root of drive C: (where the temporary folders lie),
// as full paths.
inline std::vector<std::string> KeepFoldersOnC() {
  std::vector<std::string> folders;
  WIN32_FIND_DATAA found;
  const UniqueFind search(FindFirstFileA("C:\\~VelmorixKeep.*", &found));
  if (!search) return folders;
  do {
    folders.push_back(std::string("C:\\") + found.cFileName);
  } while (FindNextFileA(search.Get(), &found));
  return folders;
}

}  // namespace testsupport
