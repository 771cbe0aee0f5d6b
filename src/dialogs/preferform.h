#pragma once

// The main window relies on the language list (the language selection of
// the whole program), ApplyTexts() and showing the dialog modally with exec().
//
// The preferences dialog: language, proxy settings, AutoConnect and the
// modules' "Default" / "Active" registry flags. GUI thread only. Created once
// by the main window and owned by it. The language list and its selection are
// the object's own from its creation; its controls are built when it is
// first shown (or by EnsureBuilt), since most runs never open it.

#include "app/appcontext.h"

#include <QDialog>

#include <functional>
#include <optional>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTabWidget;
class QToolButton;
class QWidget;

namespace vexor {

class TPreferForm : public QDialog {
    Q_OBJECT
public:
    // FormCreate: fills the language list from the language index
    // (ListLanguages), selects the first entry, ApplyTexts.
    TPreferForm(AppContext& app, QWidget* owner);
    ~TPreferForm() override;

    // Builds the controls (once); every handler below does it first.
    void EnsureBuilt();

    // Replaces the captions with the current language's texts; changes nothing
    // when the language has no "FPCaption". Label4, Label5 and SpeedButton1
    // keep their design texts. Controls not yet built take them when built.
    void ApplyTexts();

    // The language list as shown; null until the controls are built. Its
    // selection and the object's are one.
    QComboBox* ComboBox1 = nullptr;

    // Text of the selected entry, empty when none is selected.
    std::string SelectedLanguage() const;
    // The selected entry's index, -1 for none; an index outside the list
    // selects none.
    int SelectedLanguageIndex() const { return m_selected; }
    void SelectLanguageIndex(int index);
    // The language in use, which the settings file and the server are told:
    // the selection, except while a choice is still open (this dialog or the
    // language download dialog is showing), when it is the entry that the
    // choice falls back to should it not complete.
    std::string LanguageInUse() const;
    // Selects the entry whose name equals `name` (bytes, ASCII letters without
    // regard to case); none when missing.
    void SelectLanguage(const std::string& name);
    // Fills the language list with `names` (the index's language names, in order)
    // unless it holds them already; a selection is kept by name.
    void SetLanguages(const std::vector<std::string>& names);
    // Makes `name`, the selected entry, the current language: at
    // once when it is installed, else after the language download dialog (it
    // fetches the selected entry) ended with OK and the file is there now.
    // A switch applies this dialog's and the main window's texts; without one
    // entry `restoreIndex` is selected again. True when switched. The menu of
    // the main window and OK both switch through here.
    bool SwitchLanguage(const std::string& name, int restoreIndex);

    // What OK needs of the main window, set by it after creating the dialog.
    // Either may be left empty (then that step is skipped).
    //   MainApplyTexts: TForm1::ApplyTexts, run after a language switch.
    //   SetProxyParametersForOpenModules: TModuleGrid's step of the same name,
    //   run after the new proxy values are stored in Constants.
    std::function<void()> MainApplyTexts;
    std::function<void()> SetProxyParametersForOpenModules;

    // The proxy port as typed: a decimal 32-bit integer (blanks around it
    // allowed, optional sign) or 0 for anything else, the empty text included.
    static std::int32_t ParsePort(const std::string& text);

    // Event handlers, public so that the main window and tests can run them.
    void FormShow();
    void Button1Click();       // OK
    void Button2Click();       // Cancel
    void SpeedButton1Click();  // FAQ page in the user's browser

    // The index selected when the dialog was last shown.
    int SavedLanguageIndex = -1;

    void setVisible(bool visible) override;

public slots:
    // Cancel, Escape and the close box: the selection of the last show comes back.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    // The captions of the last language that had them.
    struct Captions {
        QString title, label1, label2, label3, button1, button2, autoConnect, page1, page2;
    };

    void createControls();
    void fillLanguageList();
    void applyCaptions();
    std::string languageAt(int index) const;
    void setTabOrder();
    void fillModuleLists();
    void loadLanguage(const std::string& name);
    void storeProxy();
    // Writes "Default" and "Active" for every listed module; the first error
    // text, or nullopt when every write went through.
    std::optional<std::string> writeModuleFlags();

    AppContext& m_app;
    std::vector<std::string> m_languages;  // the index's language names, in order
    int m_selected = -1;
    // While a choice is open: the entry it falls back to.
    std::optional<int> m_fallback;
    std::optional<Captions> m_captions;
    // The proxy values as the edits were filled with them.
    ProxySettings m_shownProxy;

    QLabel* m_label1 = nullptr;
    QLabel* m_label2 = nullptr;
    QLabel* m_label3 = nullptr;
    QLabel* m_label4 = nullptr;
    QLabel* m_label5 = nullptr;
    QCheckBox* m_checkBox1 = nullptr;
    QLineEdit* m_edit1 = nullptr;
    QLineEdit* m_edit2 = nullptr;
    QLineEdit* m_edit3 = nullptr;
    QLineEdit* m_edit4 = nullptr;
    QTabWidget* m_pageControl1 = nullptr;
    QWidget* m_tabSheet1 = nullptr;
    QWidget* m_tabSheet2 = nullptr;
    QListWidget* m_checkListBox1 = nullptr;
    QListWidget* m_checkListBox2 = nullptr;
    QPushButton* m_button1 = nullptr;
    QPushButton* m_button2 = nullptr;
    QToolButton* m_speedButton1 = nullptr;
};

}  // namespace vexor
