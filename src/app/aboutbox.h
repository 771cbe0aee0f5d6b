#pragma once

#include "app/appcontext.h"

#include <QDialog>

class QLabel;
class QPushButton;

// The about box: product line, the maker's contact lines and web address, the
// version line with the client identifier, and the rights line. Created hidden
// at start-up, shown without being modal, hidden again by OK, Escape or its
// close box; it is never translated. Its labels and button are built when it
// is first shown (the pointers below are null until then). GUI thread only.
namespace vexor {

class TForm_About : public QDialog {
    Q_OBJECT
public:
    explicit TForm_About(AppContext& app, QWidget* parent = nullptr);
    ~TForm_About() override;

    // Shows the box, or brings it forward when it is already open.
    void ShowBox();
    // Builds the labels and the button (once); showing the box does it first.
    void EnsureBuilt();
    void setVisible(bool visible) override;

    // The maker's web address: "http://" + the web host.
    QString WebAddress() const;

    QLabel* Label1 = nullptr;  // product line
    QLabel* Label2 = nullptr;  // contact lines: name and city,
    QLabel* Label3 = nullptr;  //   street,
    QLabel* Label4 = nullptr;  //   postal address,
    QLabel* Label5 = nullptr;  //   e-mail
    QLabel* Label6 = nullptr;  // web address; a click opens it
    QLabel* Label7 = nullptr;  // version line
    QLabel* Label8 = nullptr;  // rights line
    QPushButton* Button1 = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormShow();
    void Label6Click();

    AppContext& m_app;
    bool m_placed = false;
};

}  // namespace vexor
