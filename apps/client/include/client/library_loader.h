// Opening the library at run time and finding its functions: the one part
// of loading it that each operating system does its own way
// (library_loader_posix.cpp with dlopen, library_loader_win32.cpp with
// LoadLibrary). Which functions are needed is api.cpp's business.
#ifndef OMBRIX_TOOL_LIBRARY_LOADER_H
#define OMBRIX_TOOL_LIBRARY_LOADER_H

#include <string>

namespace ombrix_tool {

// The library's file name on this system: the simulator's or the real one's.
std::string LibraryFileName(bool simulated);

// Opens the library file from where this system's tool looks for it. On
// failure returns null and puts the reason, a clause that fits into a
// sentence, in why.
void* OpenLibrary(const std::string& file, std::string* why);

// The address of an exported function, or null.
void* FindFunction(void* library, const char* name);

}  // namespace ombrix_tool

#endif  // OMBRIX_TOOL_LIBRARY_LOADER_H
