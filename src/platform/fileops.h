#pragma once

#include <string>

// The file operations the program uses. Every path goes through
// resolvePath() first, so "Languages/x" and "languages/x" find one folder.
namespace vexor::platform {

// The path with each component matched without regard to case when the exact
// spelling does not exist. Components that exist in no spelling are kept as
// written, so the result can name a file that is to be created.
std::string resolvePath(const std::string& path);

bool fileExists(const std::string& path);   // a regular file (after resolvePath)
bool deleteFile(const std::string& path);   // failure is ignored by callers; true on success
// Renames `from` to `to`; fails (returns false) when `to` exists.
bool renameFile(const std::string& from, const std::string& to);
// The first line of a text file: everything up to the first CR (a LF alone does
// not end it), at most `maxLength` bytes; empty when the file cannot be opened.
std::string readFirstLine(const std::string& path, std::size_t maxLength = 65536);
// Whole file contents; std::nullopt-like empty + false when it cannot be read.
bool readWholeFile(const std::string& path, std::string& contents);
// Writes `contents` to `path` atomically (temporary in the same folder, fsync,
// rename, fsync of the folder). `mode` is used for a new file. False on any
// failure; the old file is then untouched and no temporary is left. A
// successful write also removes temporaries of the same file that a killed
// writer left behind more than an hour ago.
bool writeFileAtomic(const std::string& path, const std::string& contents, unsigned mode = 0644);

// Writes all of `data` to `fd`, retrying short writes and EINTR; false on
// an error (or a write that takes nothing).
bool writeAll(int fd, const char* data, std::size_t size);

// True when `name` is a plain file name that is safe to join to a folder:
// not empty, no "/" or "\", not "." or "..", no NUL or other control character.
bool isPlainFileName(const std::string& name);

// The folder of the running executable, ending in "/".
std::string executableDir();

// The program folder, ending in "/": $VEXOR_PROGRAM_FOLDER when it is set and
// not empty (the Debian package's launcher names the user's own folder there,
// as the executable lies in a folder nobody may write to), else
// executableDir(). The variable must give the absolute path of an existing
// folder of this user that is not a symlink; anything else throws
// vexor::Exception, whose message names the variable, the value and the fault.
std::string programFolder();

}  // namespace vexor::platform
