#include "dialogs/downloadlanguageform.h"

#include "app/uitext.h"
#include "dialogs/preferform.h"
#include "platform/fileops.h"
#include "platform/shellopen.h"
#include "sync/protocol.h"
#include "sync/proxysettings.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QStyle>
#include <QToolButton>

namespace vexor {

using ui::ShowText;

namespace {
constexpr int TimeOutMs = 5000;
// Fewer bytes than this in LowSpeedMs fail the download ("Transfer too slow").
constexpr std::int64_t LowSpeedBytes = 1024;
constexpr int LowSpeedMs = 5000;
}

std::string dialogs::JoinLinesCrLf(std::string_view body)
{
    std::string text;
    text.reserve(body.size() + body.size() / 16 + 2);
    std::size_t start = 0;
    while (start < body.size()) {
        const std::size_t end = body.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            text.append(body.substr(start)).append("\r\n");
            break;
        }
        text.append(body.substr(start, end - start)).append("\r\n");
        start = end + 1;
        if (body[end] == '\r' && start < body.size() && body[start] == '\n')
            ++start;
    }
    return text;
}

TDownloadLanguageForm::TDownloadLanguageForm(AppContext& app, TPreferForm& preferForm, QWidget* parent)
    : QDialog(parent), m_app(app), m_preferForm(preferForm)
{
    setObjectName(QStringLiteral("DownloadLanguageForm"));
    setWindowTitle(QStringLiteral("Language downloading"));
    ui::UseDesignedFont(this);
    setFixedSize(376, 80);
    setSizeGripEnabled(false);
    ApplyTexts();
}

void TDownloadLanguageForm::EnsureBuilt()
{
    if (m_label1)
        return;
    HttpClient1 = std::make_shared<net::THttpClient>();
    connectClientEvents();
    createControls();
    if (m_captions)
        applyCaptions();
}

void TDownloadLanguageForm::setVisible(bool visible)
{
    if (visible)
        EnsureBuilt();
    QDialog::setVisible(visible);
}

TDownloadLanguageForm::~TDownloadLanguageForm()
{
    // Should the dialog go while a transfer waits (deleted from inside the
    // pump), the transfer still holds the client: it must end at once and
    // must not call back into this object.
    if (!HttpClient1)
        return;
    HttpClient1->OnConnect = nullptr;
    HttpClient1->OnConnectionFailed = nullptr;
    HttpClient1->OnInvalidHost = nullptr;
    HttpClient1->OnSuccess = nullptr;
    HttpClient1->OnFailure = nullptr;
    if (m_transferRunning)
        abortTransfer();
}

void TDownloadLanguageForm::connectClientEvents()
{
    net::THttpClient& client = *HttpClient1;
    client.TimeOut = TimeOutMs;
    client.LowSpeedBytes = LowSpeedBytes;
    client.LowSpeedTime = LowSpeedMs;
    client.InputFileMode = false;
    // The pump runs inside the client, so the client outlives every call of it.
    client.setPump([c = &client, abortWanted = m_abortWanted] {
        QCoreApplication::processEvents();
        if (*abortWanted)
            c->Abort();
    });
    client.OnConnect = [this] { setStatus(m_app.language().ErrorText("ConnectionEstabilished")); };
    client.OnConnectionFailed = [this] { setStatus(m_app.language().ErrorText("ConnectionFailed")); };
    client.OnInvalidHost = [this](bool& handled) {
        // No second lookup: the request ends with the lookup error.
        handled = false;
        setStatus(m_app.language().ErrorText("ConnectionNoHost"));
    };
    client.OnSuccess = [this](net::CmdType) {
        setStatus(m_app.language().Text("LDSuccess"));
        m_gauge1->setValue(m_gauge1->maximum());
        Downloaded = true;
    };
    client.OnFailure = [this](net::CmdType) { setStatus(m_app.language().ErrorText("ConnectionFailed")); };
}

void TDownloadLanguageForm::setStatus(const std::string& text)
{
    m_label1->setText(ShowText(text));
}

void TDownloadLanguageForm::createControls()
{
    m_label1 = new QLabel(
        QStringLiteral("You selected language that is not instaled. Do you want to install it???"), this);
    m_label1->setObjectName(QStringLiteral("Label1"));
    m_label1->setGeometry(8, 8, 353, 33);
    m_label1->setWordWrap(true);
    m_label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    m_gauge1 = new QProgressBar(this);
    m_gauge1->setObjectName(QStringLiteral("Gauge1"));
    m_gauge1->setGeometry(8, 24, 361, 20);
    m_gauge1->setRange(0, 100);
    m_gauge1->setValue(0);
    m_gauge1->setTextVisible(false);
    m_gauge1->hide();

    m_downloadButton = new QPushButton(QStringLiteral("Download"), this);
    m_downloadButton->setObjectName(QStringLiteral("DownloadButton"));
    m_downloadButton->setGeometry(8, 48, 75, 25);
    m_downloadButton->setAutoDefault(false);

    m_speedButton1 = new QToolButton(this);
    m_speedButton1->setObjectName(QStringLiteral("SpeedButton1"));
    m_speedButton1->setGeometry(173, 47, 25, 25);
    m_speedButton1->setIcon(style()->standardIcon(QStyle::SP_MessageBoxQuestion));
    m_speedButton1->setFocusPolicy(Qt::NoFocus);

    m_cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    m_cancelButton->setObjectName(QStringLiteral("CancelButton"));
    m_cancelButton->setGeometry(296, 48, 75, 25);
    m_cancelButton->setAutoDefault(false);

    QWidget::setTabOrder(m_cancelButton, m_downloadButton);

    connect(m_downloadButton, &QPushButton::clicked, this, &TDownloadLanguageForm::DownloadButtonClick);
    connect(m_cancelButton, &QPushButton::clicked, this, &TDownloadLanguageForm::CancelButtonClick);
    connect(m_speedButton1, &QToolButton::clicked, this, &TDownloadLanguageForm::SpeedButton1Click);
}

void TDownloadLanguageForm::ApplyTexts()
{
    if (!m_app.GlobalLanguage)
        return;
    const TLanguage& lang = m_app.language();
    const std::string caption = lang.Text("LDCaption");
    if (caption.empty())
        return;
    m_captions = Captions{ShowText(caption), ShowText(lang.Text("LDDownloadButton")),
                          ShowText(lang.Text("LDCancelButton")), ShowText(lang.Text("LDFirstText"))};
    setWindowTitle(m_captions->title);
    if (m_label1)
        applyCaptions();
}

void TDownloadLanguageForm::applyCaptions()
{
    m_downloadButton->setText(m_captions->download);
    m_cancelButton->setText(m_captions->cancel);
    m_label1->setText(m_captions->firstText);
}

void TDownloadLanguageForm::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TDownloadLanguageForm::FormShow()
{
    EnsureBuilt();
    ApplyTexts();
    m_gauge1->hide();
    m_downloadButton->setEnabled(true);
    Downloaded = false;
}

void TDownloadLanguageForm::DownloadButtonClick()
{
    if (m_transferRunning)
        return;
    EnsureBuilt();
    m_downloadButton->setEnabled(false);

    const std::shared_ptr<net::THttpClient> client = HttpClient1;
    sync::ApplyProxySettings(*client, m_app.c.Proxy());
    client->InputFileMode = false;

    m_gauge1->setValue(0);
    m_gauge1->show();
    Downloaded = false;

    // The file name comes from the language index, which the server sends:
    // only a plain name inside the language folder is ever written.
    const std::string fileName = m_app.language().LanguageFileName(m_preferForm.SelectedLanguage());
    if (!platform::isPlainFileName(fileName)) {
        setStatus(m_app.language().ErrorText("ConnectionFailed"));
        return;
    }
    const std::string url =
        sync::LangcUrl(m_app.c.ServerHost, {m_app.c.ClientId, m_app.c.UserId}, fileName);

    // While Get waits, the pump delivers every event of the GUI thread: the
    // Cancel button, the close box, and possibly the dialog's destruction.
    QPointer<TDownloadLanguageForm> self(this);
    *m_abortWanted = false;
    m_transferRunning = true;
    try {
        client->Get(url);
    } catch (const std::exception&) {
        // Lookup, connect, time-out or abort: Label1 keeps the last status
        // and Download stays disabled.
        if (self)
            m_transferRunning = false;
        return;
    }
    if (!self)
        return;
    m_transferRunning = false;

    if (!Downloaded) {
        m_downloadButton->setEnabled(true);
        return;
    }
    if (!saveLanguageFile(fileName, client->Body)) {
        // Not installed after all: the dialog must not end with OK.
        Downloaded = false;
        m_gauge1->setValue(0);
        setStatus(m_app.language().ErrorText("ConnectionFailed"));
        m_downloadButton->setEnabled(true);
        return;
    }
    const std::string okCaption = m_app.language().Text("LDOKButton");
    if (!okCaption.empty())
        m_cancelButton->setText(ShowText(okCaption));
}

bool TDownloadLanguageForm::saveLanguageFile(const std::string& fileName, const std::string& body)
{
    // Written under a temporary name and renamed over the target, so that a
    // failed write never leaves a broken language file behind.
    return platform::writeFileAtomic(m_app.language().LangDir() + fileName, dialogs::JoinLinesCrLf(body));
}

void TDownloadLanguageForm::abortTransfer()
{
    *m_abortWanted = true;
    HttpClient1->Abort();
}

void TDownloadLanguageForm::CancelButtonClick()
{
    if (m_transferRunning)
        abortTransfer();
    // A transfer that is still unwinding has not written its file yet.
    done(Downloaded && !m_transferRunning ? QDialog::Accepted : QDialog::Rejected);
}

void TDownloadLanguageForm::reject()
{
    if (m_transferRunning)
        abortTransfer();
    QDialog::reject();
}

void TDownloadLanguageForm::SpeedButton1Click()
{
    platform::openUrl(sync::HostUrl(m_app.c.WebHost) + "/faq/index.htm");
}

}  // namespace vexor
