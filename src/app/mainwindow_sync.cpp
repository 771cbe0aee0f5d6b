// TForm1's side of a synchronisation cycle: the hand-over at its start, the
// take-back at its end, and the newer-version prompt.
#include "app/mainwindow.h"

#include "app/uitext.h"
#include "dialogs/preferform.h"
#include "modules/modulegrid.h"
#include "platform/diagnostic.h"
#include "platform/shellopen.h"
#include "sync/downloadthread.h"
#include "sync/protocol.h"

#include <QMessageBox>


namespace vexor {

void TForm1::RequestMainThreadTurn()
{
    // Any thread. Bound to the window: a call still queued when the window
    // goes is dropped with it, and the shutdown's wait runs the step itself.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (DownloadThread)
                DownloadThread->RunPendingStep();
        },
        Qt::QueuedConnection);
}

void TForm1::PrepareSync(sync::TDownloadThread& thread)
{
    thread.CopyFrom(m_app.c, PreferForm ? PreferForm->LanguageInUse() : std::string());
}

void TForm1::FinishSync(sync::TDownloadThread& thread)
{
    // A cycle that ends while the window is being destroyed has nothing left
    // to show, and the settings were written at close.
    if (m_tearingDown)
        return;
    Constants& c = m_app.c;
    // Identifiers, interval, and the thread's counters plus what the rotation
    // counted here while the cycle ran.
    thread.HandBackTo(c);
    const bool promptDue = thread.NewerVersion && c.StartUps == 1;
    SetRotationInterval(c.RotationInterval);
    m_rotation.CountCurrentPosition();
    c.StartUps = 0;
    c.InstallFlag = false;
    // The hand-back is complete before the prompt's own event loop runs: a
    // close while it is open saves these values, not the reported ones.
    if (promptDue) {
        showVersionPrompt();
        if (m_tearingDown)
            return;
    }
    replaceLanguage(thread.LanguageName);
    BuildLanguagesMenu();
    m_grid->BuildModulesMenu(ModulesMenu);
}

void TForm1::showVersionPrompt()
{
    const Constants& c = m_app.c;
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Vexor"), ui::ShowText(m_app.language().Text("Version")),
                    QMessageBox::Ok | QMessageBox::Cancel, this);
    box.setObjectName(QStringLiteral("VersionBox"));
    if (box.exec() != QMessageBox::Ok)
        return;
    const std::string url = sync::UpdatePageUrl(c.WebHost, c.ClientId, c.UserId);
    if (!platform::openUrl(url))
        platform::writeDiagnostic("cannot open " + url);
}

void TForm1::replaceLanguage(const std::string& name)
{
    // The new object is complete before the old one goes: an index that
    // cannot be read leaves the current texts in place.
    const Constants& c = m_app.c;
    std::unique_ptr<TLanguage> fresh;
    try {
        fresh = std::make_unique<TLanguage>(c.LangIndexFile, c.LangDir, [](const std::string& message) {
            QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Vexor"), ui::ShowText(message), QMessageBox::Ok);
            box.exec();
        });
    } catch (const std::exception& error) {
        platform::writeDiagnostic(std::string("keeping the current language texts: ") + error.what());
        return;
    }
    // With no language selected (a first run) or one the new index no longer
    // offers, English keeps the texts readable instead of empty.
    fresh->LoadLanguage(fresh->LanguageInstalled(name) ? name : std::string("English"));
    m_app.GlobalLanguage = std::move(fresh);
}

}  // namespace vexor
