#pragma once

#include "platform/regfile.h"

#include <optional>
#include <string>
#include <vector>

// The per-user registry: a stand-in for HKEY_CURRENT_USER, kept in one text
// file in the REGEDIT4 format:
//
//   REGEDIT4
//
//   [HKEY_CURRENT_USER\Software\Vexor\Calc]
//   "ModulePath"="/opt/calc/"
//   "Counter"=dword:00000001
//
// Key paths given to this class are relative to HKEY_CURRENT_USER and use "\"
// between components ("Software\Vexor\Calc"); key names compare without regard
// to case, and so do value names. Backslash and double quote in strings are
// escaped as in .reg files. Values of type dword: and hex: are kept but are not
// strings. Every call reads the file afresh, so writes of other processes (an
// installer, vexor-reg) are seen at once. Writes replace the file atomically
// and hold an advisory lock (flock on "<file>.lock") across read-modify-write,
// so concurrent writers lose nothing. A file that cannot be parsed in part is
// read as far as it makes sense: malformed lines are skipped, never fatal.
// Reads never throw for a missing or unreadable file (it reads as empty).
// Not thread-safe for one object from several threads; several objects or
// processes on one file are fine.
namespace vexor::platform {

class Registry {
public:
    // `filePath` is the registry file; it need not exist yet.
    explicit Registry(std::string filePath);

    // $XDG_CONFIG_HOME/vexor/registry.reg, or ~/.config/vexor/registry.reg.
    static std::string defaultFilePath();

    const std::string& filePath() const { return m_filePath; }

    // True when the key exists (opening an existing key without creating it).
    bool keyExists(const std::string& key) const;

    // Names of the direct subkeys of `key`, in file order; empty when the key
    // does not exist.
    std::vector<std::string> subKeyNames(const std::string& key) const;

    // The string value `name` of `key`; empty when the key or the value is
    // missing. Throws vexor::Exception "Invalid data type for '%s'" (with the
    // value name) when the value exists with another type.
    std::string readString(const std::string& key, const std::string& name) const;

    // Like readString, but std::nullopt for a missing key or value.
    std::optional<std::string> findString(const std::string& key, const std::string& name) const;

    // Writes a string value; creates the key (and its parents) when missing.
    // Throws vexor::Exception "Unable to write to %s" when the file cannot be
    // written, "Invalid registry key '%s'" for a key holding CR, LF or NUL.
    // The registry folder is created (mode 0700) and a new file gets mode 0600.
    void writeString(const std::string& key, const std::string& name, const std::string& value);
    // Like writeString, but only when the value does not exist yet (of any
    // type), checked and written under the lock. True when it was written.
    bool writeStringIfMissing(const std::string& key, const std::string& name, const std::string& value);

    // The edits below throw like writeString.
    // Creates the key (and its parents). Returns false when it existed already.
    bool createKey(const std::string& key);
    // Deletes the key with all its subkeys and values. False when missing.
    bool deleteKey(const std::string& key);
    // Deletes one value. False when missing.
    bool deleteValue(const std::string& key, const std::string& name);

    // name ("" for the default value), type ("REG_SZ", "REG_DWORD",
    // "REG_BINARY", ...) and data (the text, or the raw text after "dword:" /
    // "hex:"); see regfile.h.
    using Value = RegValue;
    // Every value of the key, in file order (empty when the key is missing).
    std::vector<Value> values(const std::string& key) const;

    // The whole file as it is now (an empty registry when it is missing).
    RegFile read() const;

private:
    // Runs `edit` on the file's current contents under the lock and stores the
    // result when `edit` returns true.
    template <typename Edit>
    bool modify(Edit&& edit);

    std::string m_filePath;
};

}  // namespace vexor::platform
