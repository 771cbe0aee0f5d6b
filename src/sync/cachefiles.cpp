#include "sync/cachefiles.h"

#include "platform/asciitext.h"
#include "platform/fileops.h"
#include "sync/protocol.h"

#include <cstdio>

namespace vexor::sync {

namespace {

using platform::equalsNoCase;

// Calls `visit` with each line of `text`; a line ends at CR LF, LF or CR.
template <typename Visit>
bool allLines(std::string_view text, Visit&& visit)
{
    while (!text.empty()) {
        const std::size_t end = text.find_first_of("\r\n");
        if (!visit(text.substr(0, end)))
            return false;
        if (end == std::string_view::npos)
            break;
        const std::size_t next = (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? end + 2 : end + 1;
        text.remove_prefix(next);
    }
    return true;
}

bool replaceList(const std::string& liveFile)
{
    // rename(2) puts the new list over the old one in one step, so a crash
    // leaves one of the two; deleting the live file first would leave none
    // when the process dies between the two calls. When the rename fails
    // the live file stays and the download keeps its temporary name.
    const std::string temp = platform::resolvePath(ListTempFile(liveFile));
    const std::string live = platform::resolvePath(liveFile);
    return std::rename(temp.c_str(), live.c_str()) == 0;
}

}  // namespace

std::string ListTempFile(const std::string& liveFile)
{
    return liveFile + "bak";
}

std::string ImageFile(const std::string& logoDir, std::string_view bannerId)
{
    return logoDir + std::string(bannerId) + ".gif";
}

std::string ImageTempFile(const std::string& logoDir, std::string_view bannerId)
{
    return logoDir + std::string(bannerId) + ".bak";
}

std::string PageFile(const std::string& bannerDir, int slot)
{
    return bannerDir + std::to_string(slot) + ".htm";
}

std::string PageTempFile(const std::string& bannerDir, int slot)
{
    return PageFile(bannerDir, slot) + ".new";
}

bool IsSafeFileName(std::string_view name)
{
    return name.empty() || platform::isPlainFileName(std::string(name));
}

bool LanguageListNamesAreSafe(std::string_view text)
{
    bool inLanguages = false;
    return allLines(text, [&](std::string_view line) {
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            inLanguages = equalsNoCase(line.substr(1, line.size() - 2), "Languages");
            return true;
        }
        if (!inLanguages || line.empty() || line.front() == ';')
            return true;
        const std::size_t equals = line.find('=');
        return equals == std::string_view::npos || IsSafeFileName(line.substr(equals + 1));
    });
}

bool ReplaceLanguageList(const std::string& langIndexFile)
{
    const std::string temp = ListTempFile(langIndexFile);
    if (!HasHeaderLine(temp, LanguagesHeader))
        return false;
    std::string contents;
    if (!platform::readWholeFile(temp, contents) || !LanguageListNamesAreSafe(contents))
        return false;
    return replaceList(langIndexFile);
}

bool ReplaceModuleList(const std::string& modulesListFile)
{
    if (!HasHeaderLine(ListTempFile(modulesListFile), ModulesHeader))
        return false;
    return replaceList(modulesListFile);
}

void RemoveSlotImage(const std::string& logoDir, std::string_view oldId)
{
    // The old identifier comes from the settings file, not from this cycle's
    // answer; a damaged one is left alone rather than joined to the folder.
    if (IsSafeBannerId(oldId))
        platform::deleteFile(ImageFile(logoDir, oldId));
}

void PutImageInPlace(const std::string& logoDir, std::string_view oldId, std::string_view newId)
{
    RemoveSlotImage(logoDir, oldId);
    if (!IsSafeBannerId(newId))
        return;
    // An image of the same name may be left by an earlier banner, or shared
    // with another slot: the fresh download replaces it.
    platform::deleteFile(ImageFile(logoDir, newId));
    platform::renameFile(ImageTempFile(logoDir, newId), ImageFile(logoDir, newId));
}

bool PutPageInPlace(const std::string& bannerDir, int slot)
{
    // rename(2) replaces the target in one step.
    const std::string temp = platform::resolvePath(PageTempFile(bannerDir, slot));
    const std::string page = platform::resolvePath(PageFile(bannerDir, slot));
    return std::rename(temp.c_str(), page.c_str()) == 0;
}

void DiscardPageTemp(const std::string& bannerDir, int slot)
{
    platform::deleteFile(PageTempFile(bannerDir, slot));
}

}  // namespace vexor::sync
