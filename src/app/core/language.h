#pragma once

#include "app/core/memini.h"

#include <functional>
#include <string>
#include <vector>

// The language texts: the language index (which languages exist, in which
// file each lies) and the "Texts" and "Errors" tables of the current language.
namespace vexor {

class TLanguage {
public:
    // Shows a plain message with an OK button (the GUI passes a message box).
    using MessageFunction = std::function<void(const std::string& message)>;

    // Reads the index `langIndexFile`. Throws vexor::Exception
    // "Languages INI file error!" when the file exists but cannot be read.
    // An index that is missing, has no "[Languages]" section or an empty one
    // makes `showMessage` show "Languages INI file corrupted!" and leaves the
    // language list empty.
    TLanguage(std::string langIndexFile, std::string langDir, MessageFunction showMessage = {});

    // Replaces both tables with the sections "Texts" and "Errors" of the named
    // language's file. Never throws: a name not in the index, a file that is
    // missing or cannot be read, or a missing section gives empty tables.
    void LoadLanguage(const std::string& name);
    // True when the file that the index names for `name` exists in the folder.
    // A name is looked up without regard to case; an index entry whose file
    // name is not a plain name (platform::isPlainFileName: "../x", "a/b", "")
    // counts as not installed, and LoadLanguage treats it like a missing file.
    bool LanguageInstalled(const std::string& name) const;
    // The file name the index gives for `name`, as written (empty when not listed).
    std::string LanguageFileName(const std::string& name) const;

    std::string Text(const std::string& key) const;       // section "Texts"
    std::string ErrorText(const std::string& key) const;  // section "Errors"

    // Appends the name of every index line, in index order; nothing when
    // `list` is null. Does not clear the list.
    void ListLanguages(std::vector<std::string>* list) const;

    const std::vector<std::string>& Languages() const { return m_languages; }
    const std::string& LangDir() const { return m_langDir; }

private:
    // LangDir + the file name of `name`; empty when there is no usable file name.
    std::string languagePath(const std::string& name) const;

    std::string m_langIndexFile;
    std::string m_langDir;
    TMemIniFile m_index;
    std::vector<std::string> m_languages;
    std::vector<std::string> m_texts;
    std::vector<std::string> m_errors;
};

}  // namespace vexor
