// Command lines and registry command texts. A program path inside a command line is
// always enclosed in quotation marks: an unquoted path with a space (Program Files)
// lets Windows try a shorter, planted executable first. Nothing here is ever cut:
// a text that does not fit its buffer whole is refused.
#pragma once
#include <cstddef>

// out := folder + tail (tail begins with a backslash, such as "\Velmorix.exe").
bool JoinPathWhole(char* out, std::size_t capacity, const char* folder, const char* tail);

// out := "\"" + folder + tail + "\"": the command line that starts a program.
bool BuildProgramCommand(char* out, std::size_t capacity, const char* folder, const char* tail);

// out := "\"" + programPath + "\" \"%1\"": the open command of a file type.
bool BuildOpenCommand(char* out, std::size_t capacity, const char* programPath);

// out := programPath + ",0": an icon location (a path, not a command line).
bool BuildIconLocation(char* out, std::size_t capacity, const char* programPath);
