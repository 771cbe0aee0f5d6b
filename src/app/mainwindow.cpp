#include "app/mainwindow.h"

#include "app/aboutbox.h"
#include "app/bannerview.h"
#include "app/core/settings.h"
#include "app/uitext.h"
#include "app/windowmessage.h"
#include "dialogs/downloadlanguageform.h"
#include "dialogs/preferform.h"
#include "modules/modulegrid.h"
#include "platform/diagnostic.h"
#include "sync/downloadthread.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include <algorithm>
#include <limits>
#include <vector>

namespace vexor {

namespace {

constexpr int BannerWidth = 124;
constexpr int BannerHeight = 94;
constexpr int ModuleSlots = 12;
// A window of which less than this square is on some screen counts as lost.
constexpr int MinVisiblePart = 24;

QString qs(const std::string& text)
{
    return QString::fromStdString(text);
}

// Wayland tells a client nothing about where its window stands: pos() is
// then not a position the next start could use.
bool platformReportsPosition()
{
    return !QGuiApplication::platformName().startsWith(QStringLiteral("wayland"));
}

}  // namespace

TForm1::TForm1(AppContext& app, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                          | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                          | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint)
    , m_app(app)
    , m_rotation(app.c, BannerRotation::View{
                            [this](int slot) {
                                WebBrowser1->showPage(qs(m_app.c.BannerDir + std::to_string(slot) + ".htm"));
                            },
                            [this] { return isActiveWindow(); }})
{
    createComponents();
    FormCreate();
}

TForm1::~TForm1()
{
    FormDestroy();
}

void TForm1::createComponents()
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Vexor"));
    // The desktop's own font at the designed size; Qt scales it on high-DPI
    // screens.
    ui::UseDesignedFont(this);
    // The menu opens from Button1 only, never as the window's context menu.
    setContextMenuPolicy(Qt::NoContextMenu);
    setFixedSize(DesignedClientWidth, ClientHeight);

    WebBrowser1 = createBannerView(this);
    WebBrowser1->widget()->setObjectName(QStringLiteral("WebBrowser1"));
    WebBrowser1->widget()->setGeometry(0, 0, BannerWidth, BannerHeight);
    WebBrowser1->widget()->setAccessibleName(QStringLiteral("Banner"));

    Button1 = new QPushButton(QStringLiteral("Preferences"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setAccessibleName(QStringLiteral("Preferences"));
    Button1->setGeometry(0, 96, 121, 25);
    Button1->setContextMenuPolicy(Qt::NoContextMenu);
    Button1->installEventFilter(this);
    // Mouse presses never reach the button (the filter opens the menu), so a
    // click comes from the keyboard or an assistive tool: it opens the menu
    // below the button.
    connect(Button1, &QPushButton::clicked, this,
            [this] { PopupMenu1->popup(Button1->mapToGlobal(QPoint(0, Button1->height()))); });

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    ddd1 = PopupMenu1->addAction(QStringLiteral("Settings"));
    ddd1->setObjectName(QStringLiteral("ddd1"));
    connect(ddd1, &QAction::triggered, this, &TForm1::ddd1Click);
    ModulesMenu = PopupMenu1->addMenu(QStringLiteral("Modules"));
    ModulesMenu->setObjectName(QStringLiteral("ModulesMenu"));
    LanguagesMenu = PopupMenu1->addMenu(QStringLiteral("Languages"));
    LanguagesMenu->setObjectName(QStringLiteral("LanguagesMenu"));
    About1 = PopupMenu1->addAction(QStringLiteral("About"));
    About1->setObjectName(QStringLiteral("About1"));
    connect(About1, &QAction::triggered, this, &TForm1::About1Click);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
    SetRotationInterval(m_app.c.RotationInterval);

    m_grid = new TModuleGrid(m_app, this);
}

template <typename Step>
void TForm1::guarded(Step&& step)
{
    // Each step of the creation stands alone: an error is shown and the next
    // step still runs, so a broken module never leaves the client without its
    // download thread or its first banner.
    try {
        step();
    } catch (const std::exception& error) {
        showError(error.what());
    } catch (...) {
        showError("Unknown error");
    }
}

void TForm1::FormCreate()
{
    guarded([this] {
        PreferForm = new TPreferForm(m_app, this);
        PreferForm->MainApplyTexts = [this] { ApplyTexts(); };
        PreferForm->SetProxyParametersForOpenModules = [this] { m_grid->SetProxyParametersForOpenModules(); };
    });
    std::vector<std::string> moduleNames;
    guarded([&] { moduleNames = m_grid->ListModuleNames(); });
    guarded([this] { LoadSettings(); });
    guarded([&] { m_grid->DropInactive(moduleNames); });
    guarded([this] { ApplyTexts(); });
    keepBannerSize();
    for (int i = 0; i < ModuleSlots; ++i) {
        guarded([&] {
            if (const int width = m_grid->SetUpButton(i, moduleNames); width > 0)
                setClientWidth(width);
        });
    }
    guarded([this] { BuildLanguagesMenu(); });
    guarded([this] { m_grid->BuildModulesMenu(ModulesMenu); });
    guarded([this] { DownloadThread = std::make_unique<sync::TDownloadThread>(m_app.c, *this); });
    guarded([this] { Timer1Timer(); });
    // The first cycle starts once the window is up and the event loop runs.
    if (m_app.c.AutoConnect)
        PostWindowMessage(this, CM_TRYCONNECT, 0, 0);
    keepBannerSize();
}

void TForm1::FormDestroy()
{
    m_tearingDown = true;
    Timer1->stop();
    if (DownloadThread) {
        // Stop flag, abort of a running request, wait unless idle; the wait
        // serves the worker's main-thread steps, which see m_tearingDown.
        DownloadThread->Shutdown();
        DownloadThread.reset();
    }
    m_grid->CleanUp();
}

void TForm1::setClientWidth(int width)
{
    setFixedSize(width, ClientHeight);
}

void TForm1::showError(const std::string& message)
{
    platform::writeDiagnostic(message);
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Vexor"), ui::ShowText(message), QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("ErrorBox"));
    box.exec();
}

void TForm1::ApplyTexts()
{
    const TLanguage& language = m_app.language();
    const std::string caption = language.Text("MainCaption");
    if (caption.empty())
        return;
    setWindowTitle(ui::ShowText(caption));
    Button1->setText(ui::ShowCaption(language.Text("MainButton1")));
    Button1->setAccessibleName(ui::ShowText(language.Text("MainButton1")));
    LanguagesMenu->setTitle(ui::ShowCaption(language.Text("LangMenu")));
    ModulesMenu->setTitle(ui::ShowCaption(language.Text("ModulMenu")));
    ddd1->setText(ui::ShowCaption(language.Text("PreferMenu")));
}

void TForm1::BuildLanguagesMenu()
{
    // The items go later, not now: this can run while one of them is still
    // delivering its click (a sync that ends during the download dialog).
    for (QAction* item : LanguagesMenu->actions()) {
        LanguagesMenu->removeAction(item);
        item->deleteLater();
    }
    std::vector<std::string> names;
    m_app.language().ListLanguages(&names);
    for (const std::string& name : names) {
        QAction* item = LanguagesMenu->addAction(ui::ShowCaption(name));
        connect(item, &QAction::triggered, this, [this, name] { LanguageMenuClick(name); });
    }
}

void TForm1::refreshLanguageList()
{
    // The preferences list was filled from the index when it was created; a
    // sync may have brought new languages since. Fill it afresh, keeping the
    // selection, so that every language of the menu can be selected there.
    std::vector<std::string> names;
    m_app.language().ListLanguages(&names);
    PreferForm->SetLanguages(names);
}

void TForm1::LanguageMenuClick(const std::string& name)
{
    if (!PreferForm)
        return;
    refreshLanguageList();
    const int previous = PreferForm->SelectedLanguageIndex();
    PreferForm->SelectLanguage(name);
    PreferForm->SwitchLanguage(name, previous);
}

void TForm1::TryConnect()
{
    if (DownloadThread)
        DownloadThread->TryConnect();
}

void TForm1::TryCloseModule(std::intptr_t wParam)
{
    m_grid->TryCloseModule(wParam);
}

void TForm1::LoadSettings()
{
    Constants& c = m_app.c;
    const WindowSettings window = ReadSettings(c);
    if (PreferForm)
        PreferForm->SelectLanguage(window.Language);
    TLanguage& language = m_app.language();
    language.LoadLanguage(language.LanguageInstalled(window.Language) ? window.Language : "English");
    ApplyTexts();
    if (PreferForm)
        PreferForm->ApplyTexts();
    m_storedLeft = window.Left;
    m_storedTop = window.Top;
    placeWindow(window.Left, window.Top);
    if (c.StartUps < std::numeric_limits<std::int32_t>::max())
        ++c.StartUps;
    SetRotationInterval(c.RotationInterval);
}

void TForm1::SaveSettings()
{
    WindowSettings window;
    // The language in use: one still being downloaded is not saved as current.
    window.Language = PreferForm ? PreferForm->LanguageInUse() : std::string();
    // pos() is the outer edge of the frame, where move() puts it back. Where
    // the platform keeps positions to itself, the stored one stays.
    const bool known = platformReportsPosition();
    window.Left = known ? pos().x() : m_storedLeft;
    window.Top = known ? pos().y() : m_storedTop;
    WriteSettings(m_app.c, window);
}

void TForm1::placeWindow(int left, int top)
{
    QRect wanted(QPoint(left, top), frameGeometry().size());
    bool visible = false;
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect part = wanted.intersected(screen->availableGeometry());
        visible = visible || (part.width() >= MinVisiblePart && part.height() >= MinVisiblePart);
    }
    // A position saved with a screen that is gone would leave the window
    // where nobody can reach it: bring it onto the primary screen instead.
    const QScreen* primary = QGuiApplication::primaryScreen();
    if (!visible && primary) {
        const QRect area = primary->availableGeometry();
        left = std::clamp(left, area.left(), std::max(area.left(), area.right() + 1 - wanted.width()));
        top = std::clamp(top, area.top(), std::max(area.top(), area.bottom() + 1 - wanted.height()));
    }
    move(left, top);
}

void TForm1::Timer1Timer()
{
    m_rotation.Timer1Timer();
}

void TForm1::FormActivate()
{
    m_rotation.FormActivate();
}

void TForm1::SetRotationInterval(std::int32_t milliseconds)
{
    // An interval of 0 never fires: the first banner stays.
    if (milliseconds <= 0) {
        Timer1->stop();
        return;
    }
    // A running timer with the same interval goes on: restarting it would
    // keep the banner on screen up to one more period.
    if (Timer1->isActive() && Timer1->interval() == milliseconds)
        return;
    Timer1->start(milliseconds);
}

void TForm1::ddd1Click()
{
    if (PreferForm)
        PreferForm->exec();
}

void TForm1::About1Click()
{
    if (m_app.aboutForm)
        m_app.aboutForm->ShowBox();
}

bool TForm1::FormCloseQuery()
{
    HttpClient1.Cancel();
    try {
        SaveSettings();
        return true;
    } catch (const std::exception& error) {
        // The settings would be lost: the window stays open and says why.
        showError(error.what());
        return false;
    }
}

void TForm1::closeEvent(QCloseEvent* event)
{
    if (!FormCloseQuery()) {
        event->ignore();
        return;
    }
    event->accept();
    // A language download in progress ends now rather than at its time-out,
    // and its dialog goes with the main window.
    if (m_app.downloadLanguageForm)
        m_app.downloadLanguageForm->reject();
    emit closeAccepted();
}

// The banner pane is set back to its designed size after the texts are
// applied, at the end of the creation and whenever the window is shown. A
// plain child keeps its geometry, but the pane may be a web view that takes
// another size from a style or font change or from its first page, and the
// module grid's places are measured from the pane's designed width.
void TForm1::keepBannerSize()
{
    WebBrowser1->widget()->resize(BannerWidth, BannerHeight);
}

void TForm1::showEvent(QShowEvent* event)
{
    keepBannerSize();
    QWidget::showEvent(event);
}

bool TForm1::event(QEvent* event)
{
    if (event->type() == QEvent::WindowActivate)
        FormActivate();
    return QWidget::event(event);
}

void TForm1::customEvent(QEvent* event)
{
    if (event->type() != WindowMessageEvent::eventType()) {
        QWidget::customEvent(event);
        return;
    }
    const auto* message = static_cast<WindowMessageEvent*>(event);
    if (message->message() == CM_TRYCONNECT)
        TryConnect();
    else if (message->message() == CM_TRYCLOSEMODULE)
        TryCloseModule(message->wParam());
}

bool TForm1::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Button1) {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
            // Any mouse button opens the menu; the press is taken, so the
            // button does not stay down under the menu.
            Button1MouseDown();
            return true;
        case QEvent::FocusIn:
            Button1Enter();
            break;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TForm1::Button1MouseDown()
{
    PopupMenu1->popup(QCursor::pos());
}

void TForm1::Button1Enter()
{
    // Runs what is already queued (a module's message, a timer tick) before
    // the keyboard works on the button; input waits for the normal loop.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

}  // namespace vexor
