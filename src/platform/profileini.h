#pragma once
// Developers: read DEVELOPERS.md at the top of the tree before changing this unit.

#include <string>

// Profile INI functions: read or write one value of an INI file by section and
// key, with the semantics of the Windows private-profile functions.
//  - Section and key names compare without regard to case (ASCII).
//  - Blanks around keys and values are trimmed on read.
//  - A write keeps every other section, key and comment line as it stands; a
//    missing file, section or key is created.
//  - Every write replaces the file atomically (temporary file in the same
//    folder, flush, fsync, rename, fsync of the folder): after a crash the file
//    is wholly old or wholly new. A new file is created with mode 0600.
namespace vexor::platform {

// Size of the read buffer: a value longer than ProfileBufferSize - 1 characters
// is cut to that length.
inline constexpr std::size_t ProfileBufferSize = 2048;

// The value of `key` in `section` of `file`, trimmed and cut to 2047
// characters; `defaultValue` when the file, the section or the key is missing.
// Never throws for a missing or unreadable file.
std::string profileReadString(const std::string& section, const std::string& key,
                              const std::string& defaultValue, const std::string& file);

// Sets `key` in `section` of `file` to `value`. Throws vexor::Exception
// "Unable to write to %s" (with the path) when the file cannot be written.
void profileWriteString(const std::string& section, const std::string& key,
                        const std::string& value, const std::string& file);

}  // namespace vexor::platform
