#include "dialogs/downloadlanguageform.h"

#include "dialogs/dialogtext.h"
#include "dialogs/preferform.h"
#include "platform/shellopen.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QStyle>
#include <QToolButton>

namespace vexor {

using dialogs::qtext;

TDownloadLanguageForm::TDownloadLanguageForm(AppContext& app, TPreferForm& preferForm, QWidget* parent)
    : QDialog(parent), m_app(app), m_preferForm(preferForm)
{
    createControls();
    ApplyTexts();
}

TDownloadLanguageForm::~TDownloadLanguageForm() = default;

void TDownloadLanguageForm::createControls()
{
    setObjectName(QStringLiteral("DownloadLanguageForm"));
    setWindowTitle(QStringLiteral("Language downloading"));
    setFixedSize(376, 80);
    setSizeGripEnabled(false);

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
    setWindowTitle(qtext(caption));
    m_downloadButton->setText(qtext(lang.Text("LDDownloadButton")));
    m_cancelButton->setText(qtext(lang.Text("LDCancelButton")));
    m_label1->setText(qtext(lang.Text("LDFirstText")));
}

void TDownloadLanguageForm::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TDownloadLanguageForm::FormShow()
{
    ApplyTexts();
    m_gauge1->hide();
    m_downloadButton->setEnabled(true);
    Downloaded = false;
}

void TDownloadLanguageForm::DownloadButtonClick()
{
    // The transfer is wired to the HTTP client in the next step.
    m_downloadButton->setEnabled(false);
}

void TDownloadLanguageForm::CancelButtonClick()
{
    done(Downloaded ? QDialog::Accepted : QDialog::Rejected);
}

void TDownloadLanguageForm::SpeedButton1Click()
{
    platform::openUrl("http://" + m_app.c.WebHost + "/faq/index.htm");
}

}  // namespace vexor
