#include "store.h"

#include "content.h"
#include "listfile.h"

namespace vexor::server {

std::vector<LanguageEntry> Store::languages()
{
    std::vector<LanguageEntry> list;
    for (auto& [name, file] : parseListFile(listFile(ListKind::Languages).value_or(""), LanguagesHeader))
        list.push_back({ std::move(name), std::move(file) });
    return list;
}

void Store::setLanguages(const std::vector<LanguageEntry>& list)
{
    ListEntries entries;
    for (const auto& entry : list) {
        if (const auto problem = listEntryProblem(entry.name, entry.fileName); !problem.empty())
            throw StoreRejected(entry.name + ": " + problem);
        if (!isPlainFileName(entry.fileName))
            throw StoreRejected(entry.name + ": \"" + entry.fileName + "\" is not a plain file name");
        entries.emplace_back(entry.name, entry.fileName);
    }
    putListFile(ListKind::Languages, renderListFile(LanguagesHeader, entries));
}

std::vector<ModuleEntry> Store::modules()
{
    std::vector<ModuleEntry> list;
    for (auto& [key, name] : parseListFile(listFile(ListKind::Modules).value_or(""), ModulesHeader))
        list.push_back({ std::move(key), std::move(name) });
    return list;
}

void Store::setModules(const std::vector<ModuleEntry>& list)
{
    ListEntries entries;
    for (const auto& entry : list) {
        if (const auto problem = listEntryProblem(entry.key, entry.name); !problem.empty())
            throw StoreRejected(entry.key + ": " + problem);
        entries.emplace_back(entry.key, entry.name);
    }
    putListFile(ListKind::Modules, renderListFile(ModulesHeader, entries));
}

} // namespace vexor::server
