#include "app/core/language.h"

#include "platform/exception.h"
#include "platform/fileops.h"

#include <utility>

namespace vexor {

namespace {

constexpr const char* LanguagesSection = "Languages";
constexpr const char* TextsSection = "Texts";
constexpr const char* ErrorsSection = "Errors";

// A language file that cannot be read leaves the tables empty, like a missing
// one: the windows then keep their captions.
TMemIniFile readLanguageFile(const std::string& path)
{
    try {
        return TMemIniFile(path);
    } catch (const Exception&) {
        return TMemIniFile();
    }
}

}  // namespace

TLanguage::TLanguage(std::string langIndexFile, std::string langDir, MessageFunction showMessage)
    : m_langIndexFile(std::move(langIndexFile))
    , m_langDir(std::move(langDir))
{
    try {
        m_index = TMemIniFile(m_langIndexFile);
    } catch (const Exception&) {
        throw Exception("Languages INI file error!");
    }
    m_languages = m_index.sectionLines(LanguagesSection);
    if (m_languages.empty() && showMessage)
        showMessage("Languages INI file corrupted!");
}

std::string TLanguage::LanguageFileName(const std::string& name) const
{
    return valueOfKey(m_languages, name);
}

std::string TLanguage::languagePath(const std::string& name) const
{
    // The index comes from the server: a file name that would leave the
    // language folder counts as no file at all.
    std::string fileName = LanguageFileName(name);
    if (!platform::isPlainFileName(fileName))
        return {};
    return m_langDir + fileName;
}

void TLanguage::LoadLanguage(const std::string& name)
{
    m_texts.clear();
    m_errors.clear();
    const std::string path = languagePath(name);
    if (path.empty())
        return;
    TMemIniFile file = readLanguageFile(path);
    m_texts = std::move(file).sectionLines(TextsSection);
    m_errors = std::move(file).sectionLines(ErrorsSection);
}

bool TLanguage::LanguageInstalled(const std::string& name) const
{
    const std::string path = languagePath(name);
    return !path.empty() && platform::fileExists(path);
}

std::string TLanguage::Text(const std::string& key) const
{
    return valueOfKey(m_texts, key);
}

std::string TLanguage::ErrorText(const std::string& key) const
{
    return valueOfKey(m_errors, key);
}

void TLanguage::ListLanguages(std::vector<std::string>* list) const
{
    if (!list)
        return;
    for (const std::string& line : m_languages)
        list->push_back(lineKey(line));
}

}  // namespace vexor
