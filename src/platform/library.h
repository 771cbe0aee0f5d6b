#pragma once

#include <string>

// Dynamic libraries: stands in for LoadLibraryA, GetProcAddress, FreeLibrary.
namespace vexor::platform {

using LibraryHandle = void*;

// dlopen(RTLD_NOW | RTLD_LOCAL). A path without "/" is taken from the current
// folder ("./name"), not from the library search path. nullptr on failure;
// `error` (optional) receives dlerror()'s text.
LibraryHandle loadLibrary(const std::string& path, std::string* error = nullptr);
void* libraryEntry(LibraryHandle library, const char* name);  // nullptr when absent
void freeLibrary(LibraryHandle library);

}  // namespace vexor::platform
