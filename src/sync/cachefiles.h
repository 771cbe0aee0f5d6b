#pragma once

// The files a synchronisation cycle leaves below the program folder, their
// names, and the rules by which they are put in place. Only the download thread
// writes them; every function may run on any thread.
//
// Names are built by plain concatenation of a folder (ending in "/") and a
// name; every path then goes through platform::resolvePath, so "Languages/"
// and "languages/" are one folder. Deletes and renames ignore failure, as the
// cache can always be brought up to date by the next cycle. No function here
// creates a folder, and none accepts an identifier or file name that could
// reach outside its folder (see IsSafeBannerId and IsSafeFileName).

#include <string>
#include <string_view>

namespace vexor::sync {

inline constexpr std::string_view LanguagesHeader = "[Languages]";
inline constexpr std::string_view ModulesHeader = "[Modules]";

// A downloaded list before acceptance: the live name with "bak" appended
// directly ("lang.ini" -> "lang.inibak").
std::string ListTempFile(const std::string& liveFile);
// Banner image, and its name while it is downloaded.
std::string ImageFile(const std::string& logoDir, std::string_view bannerId);      // id + ".gif"
std::string ImageTempFile(const std::string& logoDir, std::string_view bannerId);  // id + ".bak"
// Banner page of a slot (0..9, decimal), and its name while it is downloaded:
// a page is renamed over the shown one only once it has arrived in full.
std::string PageFile(const std::string& bannerDir, int slot);      // slot + ".htm"
std::string PageTempFile(const std::string& bannerDir, int slot);  // slot + ".htm.new"

// A language file name from the language list that may be joined to the
// language folder: no "/" or "\", no NUL or other control character (below
// 0x20, 0x7F), and not "." or "..". The empty name passes (it names the folder
// itself, which no reader or writer can open as a file). Bytes above 127 pass:
// names are 8-bit text in the user's code page.
bool IsSafeFileName(std::string_view name);

// True when every entry of every "[Languages]" section (section names compared
// without regard to case) has a file name (the text after the first "=") that
// IsSafeFileName accepts. Lines end at CR LF, LF or CR.
bool LanguageListNamesAreSafe(std::string_view text);

// Replacement of a list file after its download has ended without error: when
// the temporary file's first line is exactly `header` (and, for the language
// list, every file name in it is safe), rename the temporary file over the
// live file in one step (there is never a moment without a live list); true
// then. Otherwise nothing changes and the temporary file stays on disk until
// the next download overwrites it.
bool ReplaceLanguageList(const std::string& langIndexFile);
bool ReplaceModuleList(const std::string& modulesListFile);

// Slot update, file side. The caller downloads the image into
// ImageTempFile(logoDir, newId) before PutImageInPlace, and the page into
// PageTempFile(bannerDir, slot) before PutPageInPlace.
//
// An emptied slot loses its old image ("000000" names no image).
void RemoveSlotImage(const std::string& logoDir, std::string_view oldId);
// Deletes the old identifier's image, then an image of the new identifier left
// by an earlier banner, then renames the downloaded ".bak" to the ".gif" name.
// An identifier that fails IsSafeBannerId is never joined to the folder.
void PutImageInPlace(const std::string& logoDir, std::string_view oldId, std::string_view newId);
// Renames the downloaded page over the slot's page in one step (the view never
// sees a missing or half page). False when the rename failed; the old page is
// then still in place.
bool PutPageInPlace(const std::string& bannerDir, int slot);
// Removes a page download that did not finish.
void DiscardPageTemp(const std::string& bannerDir, int slot);

}  // namespace vexor::sync
