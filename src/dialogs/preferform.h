#pragma once

// CONTRACT: the main window relies on ComboBox1 (the language selection of the
// whole program), ApplyTexts() and showing the dialog modally with exec().

#include "app/appcontext.h"

#include <QDialog>

class QComboBox;

namespace vexor {

class TPreferForm : public QDialog {
    Q_OBJECT
public:
    // FormCreate: fills ComboBox1 from the language index (ListLanguages),
    // selects the first entry, ApplyTexts.
    TPreferForm(AppContext& app, QWidget* owner);
    ~TPreferForm() override;

    void ApplyTexts();

    // The language list: its selected entry is the current language name.
    QComboBox* ComboBox1 = nullptr;

    // Text of the selected entry, empty when none is selected.
    std::string SelectedLanguage() const;
    // Selects the entry equal to `name` (case-insensitive); none when missing.
    void SelectLanguage(const std::string& name);

private:
    AppContext& m_app;
};

}  // namespace vexor
