#include "platform/library.h"

#include <dlfcn.h>

namespace vexor::platform {

LibraryHandle loadLibrary(const std::string& path, std::string* error)
{
    if (path.empty()) {
        if (error)
            *error = "empty library path";
        return nullptr;
    }
    // dlopen searches the library path for a bare name; the program means the
    // file in the current folder.
    std::string file = path.find('/') == std::string::npos ? "./" + path : path;
    ::dlerror();
    void* handle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle && error) {
        const char* text = ::dlerror();
        *error = text ? text : "cannot load " + file;
    }
    return handle;
}

void* libraryEntry(LibraryHandle library, const char* name)
{
    if (!library || !name)
        return nullptr;
    return ::dlsym(library, name);
}

void freeLibrary(LibraryHandle library)
{
    if (library)
        ::dlclose(library);
}

}  // namespace vexor::platform
