#pragma once

#include "app/core/constants.h"
#include "app/core/language.h"
#include "platform/registry.h"

#include <memory>

// What the windows of the client share: the start-up state, the registry, the
// one language object (GlobalLanguage, replaced after every completed sync),
// and the windows created at start-up. Built by the start-up code (or a test)
// and passed by reference; nothing here is a hidden global.
namespace vexor {

class TForm1;
class TDownloadLanguageForm;
class TForm_About;

struct AppContext {
    Constants& c;
    platform::Registry& registry;
    std::unique_ptr<TLanguage> GlobalLanguage;

    // The auto-created windows; set by the start-up code after creating them.
    TForm1* mainForm = nullptr;
    TDownloadLanguageForm* downloadLanguageForm = nullptr;
    TForm_About* aboutForm = nullptr;

    TLanguage& language() { return *GlobalLanguage; }
};

}  // namespace vexor
