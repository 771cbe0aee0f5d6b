#pragma once

#include <cstddef>
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
// characters; `defaultValue` (trailing blanks removed, cut the same way) when
// the file, the section or the key is missing. Never throws. Lines end in LF,
// CR LF or CR; a UTF-8 byte-order mark is skipped; lines starting with ";"
// are comments; "[name]" ends at the last "]"; "key=value" splits at the first
// "=". With duplicate sections or keys, the first key in file order counts.
// Surrounding quotes are not removed (unlike the platform) so that every
// value written reads back.
std::string profileReadString(const std::string& section, const std::string& key,
                              const std::string& defaultValue, const std::string& file);

// Sets `key` in `section` of `file` to `value`. Throws vexor::Exception
// "Unable to write to %s" (with the path) when the file cannot be written; the
// file is then unchanged. A CR, LF or NUL inside `value` is stored as a blank
// (it would start a new line); blanks at either end of `value` are written but
// trimmed on read, as the platform does. Section and key names are trimmed; an
// empty name, a key holding "=" or starting with ";" or "[", or a name holding
// CR, LF or NUL cannot be stored and throws vexor::Exception
// "Invalid profile key name '%s'". A write that changes nothing does not touch
// the file. The file's own line breaks (CR LF or LF) and byte-order mark are
// kept; a new file (or one without any line break yet) uses CR LF.
void profileWriteString(const std::string& section, const std::string& key,
                        const std::string& value, const std::string& file);

// The same two operations on the file's text in memory, for tests and fuzzing:
// profileReadIn reads like profileReadString from `contents`; profileWriteIn
// returns the new text that profileWriteString would store (throws only for a
// name that cannot be stored).
std::string profileReadIn(const std::string& section, const std::string& key,
                          const std::string& defaultValue, const std::string& contents);
std::string profileWriteIn(const std::string& section, const std::string& key,
                           const std::string& value, const std::string& contents);

}  // namespace vexor::platform
