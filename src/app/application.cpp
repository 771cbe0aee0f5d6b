#include "app/application.h"

#include "app/aboutbox.h"
#include "app/appcontext.h"
#include "app/core/constants.h"
#include "app/core/language.h"
#include "app/mainwindow.h"
#include "app/terminationsignals.h"
#include "app/uitext.h"
#include "dialogs/downloadlanguageform.h"
#include "dialogs/preferform.h"
#include "modules/core/moduleregistry.h"
#include "platform/diagnostic.h"
#include "platform/exception.h"
#include "platform/fileops.h"
#include "platform/registry.h"
#include "platform/singleinstance.h"

#include <QApplication>
#include <QMessageBox>

#include <memory>
#include <optional>
#include <string>

#include <unistd.h>

namespace vexor {

namespace {

void showMessage(QMessageBox::Icon icon, const std::string& message)
{
    // Also on stderr: a client started from a script or a session manager
    // leaves a trace of why it stopped.
    platform::writeDiagnostic(message);
    QMessageBox box(icon, QStringLiteral("Vexor"), ui::ShowText(message), QMessageBox::Ok);
    box.exec();
}

// The windows of one run and how a termination signal reaches them.
struct Session {
    std::unique_ptr<TForm1> form;
    std::unique_ptr<TDownloadLanguageForm> downloadLanguageForm;
    std::unique_ptr<TForm_About> aboutForm;
    bool closed = false;  // the close request was granted
    bool closingBySignal = false;
    bool signalBeforeWindow = false;
};

void onTerminationSignal(Session& session, const TerminationSignals& termination)
{
    TForm1* form = session.form.get();
    if (session.closed)
        return;  // the loop is ending already
    if (!form || !form->isVisible()) {
        // Start-up is still running (perhaps inside an error box): end every
        // event loop; the start-up code closes the window once it exists.
        session.signalBeforeWindow = true;
        QCoreApplication::exit(1);
        return;
    }
    if (session.closingBySignal || termination.Count() > 1) {
        // Asked again while the first request is still showing why the
        // settings could not be written: the process ends now.
        QCoreApplication::exit(1);
        return;
    }
    session.closingBySignal = true;
    // Like a desktop log-out: the close request writes the settings. When
    // that fails the error has been shown; the signal still ends the process.
    if (!form->close())
        QCoreApplication::exit(1);
}

// Client identifier: the key is opened, never created; without it the
// start-up value stays. Throws "Invalid data type for 'VexorID'".
void readClientId(Constants& c, const platform::Registry& registry)
{
    if (registry.keyExists(modules::ProductKey))
        c.ClientId = registry.readString(modules::ProductKey, "VexorID");
}

// The lock in the runtime folder alone lets a second client run on the same
// settings and banners when it sees another runtime folder (a login without
// one, then a desktop session), so the program folder holds a lock as well.
// A folder this user cannot write to needs none: no client can change it.
bool acquireFolderLock(std::optional<platform::SingleInstance>& lock, const std::string& folder)
{
    if (folder.empty() || ::access(folder.c_str(), W_OK) != 0)
        return true;
    lock.emplace("Vexor", folder);
    return lock->tryAcquire();
}

}  // namespace

int RunVexor(int argc, char** argv)
{
    // Before the lock: a signal that arrives once the lock is held is never
    // a kill.
    TerminationSignals::InstallHandlers();
    std::optional<platform::SingleInstance> instance;
    std::optional<platform::SingleInstance> folderInstance;
    std::string programFolder;
    std::string folderError;  // shown once there is an application to show it
    try {
        programFolder = platform::programFolder();
    } catch (const std::exception& error) {
        folderError = error.what();
    }
    try {
        instance.emplace("Vexor");
        if (!instance->tryAcquire())
            return 0;
        if (!acquireFolderLock(folderInstance, programFolder))
            return 0;
    } catch (const std::exception& error) {
        // A runtime folder that cannot hold the lock: there is no window yet
        // to show it in, so stderr says why the program ends.
        platform::writeDiagnostic(error.what());
        return 1;
    }

#ifdef VEXOR_WITH_WEBENGINE
    // Qt WebEngine shares OpenGL contexts; it must be said before the
    // application object exists.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
#endif
    // The program takes no command line: Qt sees the program name only, so
    // that its own options ("-reverse", "-qwindowtitle", ...) change nothing.
    // Qt's environment variables (QT_QPA_PLATFORM, ...) still apply.
    int qtArgc = argc > 0 ? 1 : 0;
    char* qtArgv[] = {argc > 0 ? argv[0] : nullptr, nullptr};
    QApplication application(qtArgc, qtArgv);
    QCoreApplication::setApplicationName(QStringLiteral("Vexor"));
    // The program ends when its main window closes, whatever module windows
    // are still open.
    QApplication::setQuitOnLastWindowClosed(false);
    Session session;
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::requested, &application,
                     [&session, &termination] { onTerminationSignal(session, termination); });

    Constants& c = GlobalConstants();
    platform::Registry registry(platform::Registry::defaultFilePath());
    std::unique_ptr<TLanguage> language;
    try {
        if (!folderError.empty())
            throw Exception(folderError);
        InitializeConstants(c, programFolder);
        language = std::make_unique<TLanguage>(c.LangIndexFile, c.LangDir, [](const std::string& message) {
            showMessage(QMessageBox::NoIcon, message);
        });
        language->LoadLanguage("English");
        readClientId(c, registry);
    } catch (const std::exception& error) {
        showMessage(QMessageBox::Critical, error.what());
        return 1;
    }

    AppContext context{c, registry, std::move(language)};
    session.form = std::make_unique<TForm1>(context);
    context.mainForm = session.form.get();
    if (session.form->PreferForm) {
        session.downloadLanguageForm = std::make_unique<TDownloadLanguageForm>(context, *session.form->PreferForm);
        context.downloadLanguageForm = session.downloadLanguageForm.get();
    }
    session.aboutForm = std::make_unique<TForm_About>(context);
    context.aboutForm = session.aboutForm.get();
    QObject::connect(session.form.get(), &TForm1::closeAccepted, &application, [&session] {
        session.closed = true;
        // exit, not quit: quit first asks every window to close, and a module
        // window turns that into a request of its own and stays, which would
        // leave the loop running without a main window.
        QCoreApplication::exit(0);
    });

    int status = 0;
    if (session.signalBeforeWindow) {
        status = session.form->close() ? 0 : 1;
    } else {
        session.form->show();
        status = application.exec();
    }

    context.aboutForm = nullptr;
    session.aboutForm.reset();
    context.downloadLanguageForm = nullptr;
    session.downloadLanguageForm.reset();
    context.mainForm = nullptr;
    session.form.reset();
    context.GlobalLanguage.reset();
    if (folderInstance)
        folderInstance->release();
    instance->release();
    return status;
}

}  // namespace vexor
