#pragma once

// Callers select the wanted language in TPreferForm::ComboBox1 and
// then call exec(); QDialog::Accepted means the language file is installed.
// On Accepted the caller loads the language and re-applies its captions; on
// any other result it restores its previous selection.
//
// The language download dialog: fetches the selected language's file from
// the vendor's script (A=LANGC) and stores it in the language folder. GUI
// thread only; created once at start-up, its controls built when it is first
// shown (or by EnsureBuilt).

#include "app/appcontext.h"
#include "net/httpclient.h"

#include <QDialog>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

class QLabel;
class QProgressBar;
class QPushButton;
class QToolButton;

namespace vexor {

class TPreferForm;

namespace dialogs {
// The text of a downloaded language file as it is stored: the body split into
// lines at CR, LF or CR LF, each line ended by CR LF. A body that ends with a
// line break gives no extra empty line; an empty body gives an empty text.
std::string JoinLinesCrLf(std::string_view body);
}  // namespace dialogs

class TDownloadLanguageForm : public QDialog {
    Q_OBJECT
public:
    TDownloadLanguageForm(AppContext& app, TPreferForm& preferForm, QWidget* parent = nullptr);
    ~TDownloadLanguageForm() override;

    // Builds the controls (once); showing the dialog and the handlers that
    // need them do it first.
    void EnsureBuilt();

    // Replaces the captions with the current language's texts; changes nothing
    // when the language has no "LDCaption". Controls not yet built take them
    // when built.
    void ApplyTexts();

    // Event handlers, public so that tests can run them.
    void FormShow();
    void DownloadButtonClick();
    void CancelButtonClick();
    void SpeedButton1Click();  // FAQ page in the user's browser

    // True once the success event of the current download has fired.
    bool Downloaded = false;

    // The dialog's HTTP client: time-out 5000 ms, body in memory, the
    // transfer pumping the GUI thread's events while it waits. Shared so that
    // a running transfer keeps its client even should the dialog be destroyed
    // from inside the pump. Made with the controls (null until then).
    std::shared_ptr<net::THttpClient> HttpClient1;

    // True while DownloadButtonClick waits for the transfer.
    bool TransferRunning() const { return m_transferRunning; }

    void setVisible(bool visible) override;

public slots:
    // Escape and the close box: a running transfer is aborted first.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    // The captions of the last language that had them.
    struct Captions {
        QString title, download, cancel, firstText;
    };

    void createControls();
    void applyCaptions();
    void connectClientEvents();
    void setStatus(const std::string& text);
    // Ends a running transfer at its next wait; repeated by the pump until the
    // transfer is over, so that an abort during the connect step is not lost.
    void abortTransfer();
    bool saveLanguageFile(const std::string& fileName, const std::string& body);

    AppContext& m_app;
    TPreferForm& m_preferForm;

    QLabel* m_label1 = nullptr;
    QProgressBar* m_gauge1 = nullptr;
    QPushButton* m_downloadButton = nullptr;
    QToolButton* m_speedButton1 = nullptr;
    QPushButton* m_cancelButton = nullptr;

    std::optional<Captions> m_captions;
    bool m_transferRunning = false;
    std::shared_ptr<bool> m_abortWanted = std::make_shared<bool>(false);
};

}  // namespace vexor
