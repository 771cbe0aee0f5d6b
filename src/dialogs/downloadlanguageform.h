#pragma once

// CONTRACT: callers select the wanted language in TPreferForm::ComboBox1 and
// then call exec(); QDialog::Accepted means the language file is installed.
// On Accepted the caller loads the language and re-applies its captions; on
// any other result it restores its previous selection.
//
// The language download dialog: fetches the selected language's file from
// the vendor's script (A=LANGC) and stores it in the language folder. GUI
// thread only; created once at start-up.

#include "app/appcontext.h"

#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;
class QToolButton;

namespace vexor {

class TPreferForm;

class TDownloadLanguageForm : public QDialog {
    Q_OBJECT
public:
    TDownloadLanguageForm(AppContext& app, TPreferForm& preferForm, QWidget* parent = nullptr);
    ~TDownloadLanguageForm() override;

    // Replaces the captions with the current language's texts; changes nothing
    // when the language has no "LDCaption".
    void ApplyTexts();

    // Event handlers, public so that tests can run them.
    void FormShow();
    void DownloadButtonClick();
    void CancelButtonClick();
    void SpeedButton1Click();  // FAQ page in the user's browser

    // True once the success event of the current download has fired.
    bool Downloaded = false;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void createControls();

    AppContext& m_app;
    TPreferForm& m_preferForm;

    QLabel* m_label1 = nullptr;
    QProgressBar* m_gauge1 = nullptr;
    QPushButton* m_downloadButton = nullptr;
    QToolButton* m_speedButton1 = nullptr;
    QPushButton* m_cancelButton = nullptr;
};

}  // namespace vexor
