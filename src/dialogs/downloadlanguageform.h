#pragma once

// CONTRACT: callers select the wanted language in TPreferForm::ComboBox1 and
// then call exec(); QDialog::Accepted means the language file is installed.

#include "app/appcontext.h"

#include <QDialog>

namespace vexor {

class TPreferForm;

class TDownloadLanguageForm : public QDialog {
    Q_OBJECT
public:
    TDownloadLanguageForm(AppContext& app, TPreferForm& preferForm, QWidget* parent = nullptr);
    ~TDownloadLanguageForm() override;

    void ApplyTexts();

private:
    AppContext& m_app;
    TPreferForm& m_preferForm;
};

}  // namespace vexor
