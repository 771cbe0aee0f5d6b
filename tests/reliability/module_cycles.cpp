// module_cycles: opens and closes sample modules through the module grid, the
// way a user pressing and releasing a module button does, and watches the
// process for growth.
//
//   module_cycles MODULES_DIR [CYCLES] [NAME...]
//
// MODULES_DIR holds <Name>/<Name>.mdl (the staged program folder's modules/).
// Every cycle presses and releases the button of each NAME (default Notes and
// Clock). Runs on Qt's offscreen platform. Prints one line of figures: cycles,
// the window handle reached, resident memory, descriptors and threads after
// the first tenth of the cycles and at the end. Exit status 0 when every press
// opened a window and every release unloaded the library, and neither the
// descriptors nor the threads grew.
#include "app/appcontext.h"
#include "app/core/constants.h"
#include "app/core/language.h"
#include "modules/modulegrid.h"
#include "modules/myspeedbutton.h"
#include "platform/registry.h"
#include "procstats.h"
#include "tempdir.h"

#include <QApplication>
#include <QTest>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: module_cycles MODULES_DIR [CYCLES] [NAME...]\n");
        return 2;
    }
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    const std::string modulesDir = std::filesystem::absolute(argv[1]).string() + "/";
    const long cycles = argc > 2 ? std::atol(argv[2]) : 1000;
    std::vector<std::string> names;
    for (int i = 3; i < argc; ++i)
        names.emplace_back(argv[i]);
    if (names.empty())
        names = {"Notes", "Clock"};

    const vexor::testkit::TempDir program;
    const std::string& dir = program.path();
    program.write("Languages/lang.ini", "[Languages]\r\nEnglish=english.lng\r\n");
    program.write("Languages/english.lng", "[Texts]\r\nMainCaption=Vexor\r\n[Errors]\r\n");

    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    long failures = 0;
    long lastHandle = 0;
    vexor::reliability::ProcStats early;
    {
        vexor::Constants constants;
        vexor::InitializeConstants(constants, dir);
        vexor::platform::Registry registry(dir + "registry.reg");
        for (const std::string& name : names) {
            const std::string key = "Software\\Vexor\\" + name;
            registry.writeString(key, "ModulePath", modulesDir + name + "/");
            registry.writeString(key, "ACTIVE", "Y");
            registry.writeString(key, "Default", "N");
        }
        auto language = std::make_unique<vexor::TLanguage>(dir + "Languages/lang.ini", dir + "Languages/");
        language->LoadLanguage("English");
        vexor::AppContext app{constants, registry, std::move(language)};
        auto form = std::make_unique<QWidget>();
        auto grid = std::make_unique<vexor::TModuleGrid>(app, form.get());
        std::vector<std::string> listed = grid->ListModuleNames();
        grid->DropInactive(listed);
        for (int i = 0; i < 12; ++i)
            grid->SetUpButton(i, listed);
        form->show();

        for (long n = 0; n < cycles; ++n) {
            if (n == cycles / 10)
                early = vexor::reliability::readProcStats();
            for (std::size_t i = 0; i < names.size(); ++i) {
                vexor::TMySpeedButton* button = grid->Buttons[i];
                QTest::mouseClick(button, Qt::LeftButton);
                if (!button->Down() || button->ModuleWindowHandle() <= 0)
                    ++failures;
                lastHandle = std::max<long>(lastHandle, button->ModuleWindowHandle());
                QApplication::processEvents();
                QTest::mouseClick(button, Qt::LeftButton);
                if (button->Down() || button->LibraryHandle != nullptr)
                    ++failures;
                // Deferred deletes of the module's widgets run here, as they
                // would in the client's event loop.
                QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
                QApplication::processEvents();
            }
        }
        grid->CleanUp();
        grid.reset();
        form.reset();
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const vexor::reliability::ProcStats late = vexor::reliability::readProcStats();
    std::printf("cycles=%ld modules=%zu opens=%ld last_handle=%ld failures=%ld rss_kb=%ld->%ld fds=%ld->%ld "
                "threads=%ld->%ld\n",
                cycles, names.size(), cycles * static_cast<long>(names.size()), lastHandle, failures, early.rssKb,
                late.rssKb, early.fds, late.fds, early.threads, late.threads);
    return failures == 0 && late.fds <= early.fds && late.threads <= early.threads ? 0 : 1;
}
