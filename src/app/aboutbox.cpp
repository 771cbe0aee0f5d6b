#include "app/aboutbox.h"

#include "app/uitext.h"
#include "platform/shellopen.h"
#include "sync/protocol.h"

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>

namespace vexor {

namespace {

// The box's client area; with a usual frame its outer size is about 232 x 207.
constexpr int ClientWidth = 226;
constexpr int ClientHeight = 180;

QLabel* makeLabel(QWidget* parent, const char* name, int top, const QString& text)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextFormat(Qt::PlainText);
    label->move(8, top);
    label->adjustSize();
    return label;
}

}  // namespace

TForm_About::TForm_About(AppContext& app, QWidget* parent)
    : QDialog(parent)
    , m_app(app)
{
    setObjectName(QStringLiteral("Form_About"));
    setWindowTitle(QStringLiteral("About"));
    setModal(false);
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint
                   | Qt::MSWindowsFixedSizeDialogHint);
    setFont(ui::DesignedFont());
    setFixedSize(ClientWidth, ClientHeight);
}

TForm_About::~TForm_About() = default;

void TForm_About::EnsureBuilt()
{
    if (Button1)
        return;
    Label1 = makeLabel(this, "Label1", 8, QString());
    QFont large = font();
    large.setPointSize(14);
    Label1->setFont(large);
    Label2 = makeLabel(this, "Label2", 40, QStringLiteral("Vexor Labs Ltd., Millbrook"));
    Label3 = makeLabel(this, "Label3", 56, QStringLiteral("12 Harbour Street"));
    Label4 = makeLabel(this, "Label4", 72, QStringLiteral("P.O. Box 1131, Millbrook 40220"));
    Label5 = makeLabel(this, "Label5", 96, QStringLiteral("info@vexor.example"));
    Label6 = makeLabel(this, "Label6", 112, WebAddress());
    Label6->setStyleSheet(QStringLiteral("color: blue"));
    Label6->setCursor(Qt::PointingHandCursor);
    Label6->installEventFilter(this);
    Label7 = makeLabel(this, "Label7", 136, QString());
    Label8 = makeLabel(this, "Label8", 160,
                       QString::fromUtf8("\u00a9 2004 Vexor Labs Ltd."));

    Button1 = new QPushButton(QStringLiteral("OK"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(140, 6, 75, 25);
    Button1->setDefault(true);
    // Escape reaches QDialog::reject, which hides the box like OK does.
    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
}

void TForm_About::setVisible(bool visible)
{
    if (visible)
        EnsureBuilt();
    QDialog::setVisible(visible);
}

QString TForm_About::WebAddress() const
{
    return ui::ShowText(sync::HostUrl(m_app.c.WebHost));
}

void TForm_About::ShowBox()
{
    show();
    raise();
    activateWindow();
}

void TForm_About::showEvent(QShowEvent* event)
{
    FormShow();
    if (!m_placed) {
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect frame = frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            move(frame.topLeft());
        }
        m_placed = true;
    }
    QDialog::showEvent(event);
}

void TForm_About::FormShow()
{
    Label1->setText(QStringLiteral("Vexor 1.3"));
    Label1->adjustSize();
    Label7->setText(QStringLiteral("Version 1.3-0000-") + ui::ShowText(m_app.c.ClientId)
                    + QStringLiteral("-0000"));
    Label7->adjustSize();
}

bool TForm_About::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Label6 && event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton && Label6->rect().contains(mouse->position().toPoint())) {
            Label6Click();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TForm_About::Label6Click()
{
    platform::openUrl("http://" + m_app.c.WebHost);
}

}  // namespace vexor
