#include "forms.h"
#include "page.h"

// The lists the client fetches (languages, modules), the language files and
// the version text.
namespace vexor::server::console {

namespace {

struct ListForm {
    std::string languages {}, modules {}, version {};
    std::string languagesError {}, modulesError {}, versionError {}, fileError {}, fileMessage {};
};

template <class Entry, class Left, class Right>
std::string listText(const std::vector<Entry>& list, Left left, Right right)
{
    std::string text;
    for (const auto& entry : list)
        text += entry.*left + "=" + entry.*right + "\n";
    return text;
}

void showLists(Page& page, ListForm form, int status = 200)
{
    const auto languages = page.store.languages();
    if (form.languagesError.empty())
        form.languages = listText(languages, &LanguageEntry::name, &LanguageEntry::fileName);
    if (form.modulesError.empty())
        form.modules = listText(page.store.modules(), &ModuleEntry::key, &ModuleEntry::name);
    if (form.versionError.empty())
        form.version = page.store.version().value_or("");
    Html files;
    for (const auto& language : languages) {
        const auto file = page.store.languageFile(language.fileName);
        files += templateNamed("lists.file").render({ { "name", language.name }, { "file", language.fileName },
            { "state", file ? std::to_string(file->size()) + " bytes" : "missing: the client cannot download it" } });
    }
    const auto body = templateNamed("lists").render({ { "csrf", csrfField(page) }, { "languages", form.languages },
        { "modules", form.modules }, { "version", form.version }, { "files", files },
        { "languagesError", fieldError("languages", form.languagesError) },
        { "modulesError", fieldError("modules", form.modulesError) },
        { "versionError", fieldError("version", form.versionError) },
        { "fileError", fieldError("languagefile", form.fileError) }, { "fileMessage", form.fileMessage },
        { "fileMessageClass", form.fileMessage.empty() ? "hidden" : "notice" } });
    page.show("Languages, modules, version", "lists", body, status);
}

void saveLanguages(Page& page)
{
    const auto text = page.field("languages");
    const auto list = checkLanguageList(text);
    if (!list.value)
        return showLists(page, { .languages = text, .languagesError = list.error }, 400);
    page.store.setLanguages(*list.value);
    page.redirect("/console/lists#languages");
}

void saveModules(Page& page)
{
    const auto text = page.field("modules");
    const auto list = checkModuleList(text);
    if (!list.value)
        return showLists(page, { .modules = text, .modulesError = list.error }, 400);
    page.store.setModules(*list.value);
    page.redirect("/console/lists#modules");
}

void saveVersion(Page& page)
{
    const auto text = page.field("version");
    const auto version = checkVersionText(text);
    if (!version.value)
        return showLists(page, { .version = text, .versionError = version.error }, 400);
    page.store.setVersion(*version.value);
    page.redirect("/console/lists#version");
}

void uploadLanguageFile(Page& page)
{
    const auto* file = page.upload("languagefile");
    if (!file)
        return showLists(page, { .fileError = "choose a language file" }, 400);
    const auto name = file->filename.substr(file->filename.find_last_of("/\\") + 1);
    const auto checked = checkLanguageFile(name, file->content);
    if (!checked.value)
        return showLists(page, { .fileError = name + " was refused: " + checked.error }, 400);
    page.store.putLanguageFile(name, *checked.value);
    showLists(page, { .fileMessage = name + " is stored; add it to the language list if it is new." });
}

} // namespace

void addListPages(Routes& routes)
{
    routes.get("/console/lists", [](Page& page) { showLists(page, {}); });
    routes.post("/console/lists/languages", saveLanguages);
    routes.post("/console/lists/modules", saveModules);
    routes.post("/console/lists/version", saveVersion);
    routes.post("/console/lists/languagefile", uploadLanguageFile);
}

} // namespace vexor::server::console
