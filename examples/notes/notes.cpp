// Notes: a notes pad. The text lives in notes.txt in the program folder the
// client hands over (the user's own folder when the client runs from the
// Debian package), never beside the module's library, which may be read-only
// and shared by every user. It is saved a moment after every change, when the
// window closes and when the client exits, each time by writing a new file
// and renaming it over the old one, so a crash never leaves half a file.

#include "../common/qtmodulewindow.h"

#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QTimer>
#include <QVBoxLayout>

#include <set>

namespace {

// Quiet time after the last keystroke before the text is written.
constexpr int SaveDelayMs = 400;
// A notes file larger than this is not a notes file; it is not loaded (and
// so never overwritten).
constexpr qint64 MaxNotesBytes = 16 * 1024 * 1024;

class NotesWindow : public vexor_example::ModuleWidget {
public:
    NotesWindow(const VexorHost* host, const QString& appDir)
        : ModuleWidget(host), m_filePath(appDir + QStringLiteral("notes.txt"))
    {
        setObjectName(QStringLiteral("NotesWindow"));
        setWindowTitle(QStringLiteral("Notes"));
        resize(320, 280);

        m_edit = new QPlainTextEdit(this);
        m_edit->setObjectName(QStringLiteral("NotesEdit"));
        m_status = new QLabel(this);
        m_status->setObjectName(QStringLiteral("NotesStatus"));
        auto* closeButton = new QPushButton(QStringLiteral("Close"), this);
        closeButton->setObjectName(QStringLiteral("NotesCloseButton"));

        auto* layout = new QVBoxLayout(this);
        layout->addWidget(m_edit);
        layout->addWidget(m_status);
        layout->addWidget(closeButton);

        m_saveTimer.setSingleShot(true);
        m_saveTimer.setInterval(SaveDelayMs);
        load();

        connect(m_edit, &QPlainTextEdit::textChanged, this, [this] {
            m_dirty = true;
            m_saveTimer.start();
        });
        connect(&m_saveTimer, &QTimer::timeout, this, [this] { save(); });
        connect(closeButton, &QPushButton::clicked, this, [this] { requestClose(); });
        openWindows().insert(this);
    }

    ~NotesWindow() override
    {
        openWindows().erase(this);
        save();
        // The edit goes after this object's members; it must not reach the
        // timer any more while it is torn down.
        m_edit->disconnect(this);
    }

    // Writes pending changes now.
    void save()
    {
        m_saveTimer.stop();
        if (!m_dirty || !m_loaded)
            return;
        QSaveFile file(m_filePath);
        const QByteArray bytes = m_edit->toPlainText().toUtf8();
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
            m_status->setText(QStringLiteral("Cannot save %1").arg(m_filePath));
            return;
        }
        m_dirty = false;
        m_status->setText(QStringLiteral("Saved"));
    }

    static std::set<NotesWindow*>& openWindows()
    {
        static std::set<NotesWindow*> windows;
        return windows;
    }

protected:
    void closeByHost() override
    {
        save();
        ModuleWidget::closeByHost();
    }

private:
    void load()
    {
        QFile file(m_filePath);
        if (!file.exists()) {
            m_loaded = true;
            return;
        }
        if (file.size() > MaxNotesBytes || !file.open(QIODevice::ReadOnly)) {
            // Keep the file as it is: the pad stays read-only.
            m_edit->setReadOnly(true);
            m_status->setText(QStringLiteral("Cannot read %1").arg(m_filePath));
            return;
        }
        m_edit->setPlainText(QString::fromUtf8(file.readAll()));
        // Go on writing where the notes end.
        m_edit->moveCursor(QTextCursor::End);
        m_loaded = true;
    }

    QString m_filePath;
    QPlainTextEdit* m_edit = nullptr;
    QLabel* m_status = nullptr;
    QTimer m_saveTimer;
    bool m_dirty = false;
    bool m_loaded = false;
};

}  // namespace

extern "C" {

VexorModuleWindow* DajOkno(const VexorHost* host, const char* appDir, const ShortString255* /*clientId*/,
                           const ShortString255* /*userId*/, uint8_t /*autoConnect*/)
{
    if (!vexor_example::ModuleWidget::hostUsable(host) || !appDir)
        return nullptr;
    auto* window = new NotesWindow(host, QString::fromUtf8(appDir));
    return window->release();
}

void ZavriOkno(void)
{
    for (NotesWindow* window : NotesWindow::openWindows())
        window->save();
}

}  // extern "C"
