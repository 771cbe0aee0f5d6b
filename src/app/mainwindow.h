#pragma once

#include "app/appcontext.h"
#include "app/core/rotation.h"
#include "net/httpclient.h"
#include "sync/synchost.h"

#include <QWidget>

#include <array>
#include <cstdint>
#include <memory>
#include <string>

class QAction;
class QMenu;
class QPushButton;
class QTimer;

namespace vexor {

namespace sync {
class TDownloadThread;
}

class BannerView;
class TModuleGrid;
class TPreferForm;

// The main window: the banner pane, the module buttons, the button that opens
// the program's menu. It owns the preferences dialog, the module grid and the
// download thread, reads the settings when it is created and writes them when
// it is asked to close, and is where the download thread hands its state over
// (PrepareSync) and takes its results back (FinishSync).
//
// GUI thread only, except RequestMainThreadTurn (any thread). Construction runs
// FormCreate; an error in one of its steps is shown in an error box and the
// remaining steps still run. Destruction runs FormDestroy: the download thread
// is stopped and waited for, then the modules are cleaned up.
class TForm1 : public QWidget, public sync::SyncHost {
    Q_OBJECT
public:
    // Designed client size; the width grows to the last module button's edge.
    static constexpr int DesignedClientWidth = 377;
    static constexpr int ClientHeight = 123;

    explicit TForm1(AppContext& app, QWidget* parent = nullptr);
    ~TForm1() override;

    // Captions from the current language; nothing changes when it has no
    // "MainCaption".
    void ApplyTexts();
    // One item per language of the index, in index order.
    void BuildLanguagesMenu();
    // Makes `name` the current language: at once when it is installed,
    // otherwise through the language download dialog (on Cancel the previous
    // selection comes back and the language stays as it was).
    void LanguageMenuClick(const std::string& name);

    // CM_TRYCONNECT: starts one sync cycle when the download thread is idle.
    void TryConnect();
    // CM_TRYCLOSEMODULE: closes the module window whose handle is `wParam`.
    void TryCloseModule(std::intptr_t wParam);

    // Reads settings.ini into the shared state and applies the window's part:
    // language selection and texts, position, StartUps + 1, timer interval.
    void LoadSettings();
    // Writes settings.ini. Throws vexor::Exception "Unable to write to %s".
    void SaveSettings();

    // The banner timer's tick (also run once at creation) and the activation
    // count.
    void Timer1Timer();
    void FormActivate();
    // Timer1's interval in milliseconds; 0 or less stops the timer.
    void SetRotationInterval(std::int32_t milliseconds);

    // The download thread's main-thread steps.
    void RequestMainThreadTurn() override;
    void PrepareSync(sync::TDownloadThread& thread) override;
    void FinishSync(sync::TDownloadThread& thread) override;

    // Menu commands.
    void ddd1Click();
    void About1Click();

    TModuleGrid& ModuleGrid() { return *m_grid; }

    // Components, named as their objectName.
    TPreferForm* PreferForm = nullptr;
    BannerView* WebBrowser1 = nullptr;
    QPushButton* Button1 = nullptr;
    QMenu* PopupMenu1 = nullptr;
    QAction* ddd1 = nullptr;
    QMenu* ModulesMenu = nullptr;
    QMenu* LanguagesMenu = nullptr;
    QAction* About1 = nullptr;
    QTimer* Timer1 = nullptr;
    // Idle; a close request cancels it.
    net::THttpClient HttpClient1;
    std::unique_ptr<sync::TDownloadThread> DownloadThread;

signals:
    // The close request was granted (settings written); the program ends.
    void closeAccepted();

protected:
    bool event(QEvent* event) override;
    void customEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createComponents();
    void FormCreate();
    void FormDestroy();
    bool FormCloseQuery();
    void Button1MouseDown();
    void Button1Enter();
    void setClientWidth(int width);
    void keepBannerSize();
    void placeWindow(int left, int top);
    void showVersionPrompt();
    void replaceLanguage(const std::string& name);
    void refreshLanguageList();
    void showError(const std::string& message);
    template <typename Step>
    void guarded(Step&& step);

    AppContext& m_app;
    TModuleGrid* m_grid = nullptr;
    BannerRotation m_rotation;
    bool m_tearingDown = false;
    // The position read from the settings, saved again where the platform
    // reports none.
    std::int32_t m_storedLeft = 0;
    std::int32_t m_storedTop = 0;
};

}  // namespace vexor
