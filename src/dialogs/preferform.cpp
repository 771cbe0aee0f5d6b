#include "dialogs/preferform.h"

#include "app/uitext.h"
#include "dialogs/downloadlanguageform.h"
#include "modules/core/moduleregistry.h"
#include "platform/asciitext.h"
#include "platform/exception.h"
#include "platform/shellopen.h"
#include "sync/protocol.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QStyle>
#include <QTabWidget>
#include <QToolButton>

#include <algorithm>
#include <charconv>
#include <utility>
#include <vector>

namespace vexor {

using ui::ShowText;

namespace {

// A language's or module's name as read, kept beside the shown text: the
// name goes back to the settings, the server and the registry byte for byte.
constexpr int NameRole = Qt::UserRole;

std::string nameOf(const QVariant& data)
{
    return data.toByteArray().toStdString();
}

// A flag value is on only when it is the string "Y". A missing value, another
// text, or a value of another type (which the registry reports as an error)
// is off.
bool flagIsSet(const platform::Registry& registry, const std::string& key, const char* value)
{
    try {
        const auto text = registry.findString(key, value);
        return text && *text == "Y";
    } catch (const std::exception&) {
        return false;
    }
}

void addModuleItem(QListWidget* list, const std::string& name, bool checked)
{
    auto* item = new QListWidgetItem(ShowText(name), list);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
    item->setData(NameRole, QByteArray::fromStdString(name));
}

bool isChecked(const QListWidget* list, int row)
{
    const auto* item = list->item(row);
    return item && item->checkState() == Qt::Checked;
}

}  // namespace

TPreferForm::TPreferForm(AppContext& app, QWidget* owner) : QDialog(owner), m_app(app)
{
    setObjectName(QStringLiteral("PreferForm"));
    setWindowTitle(QStringLiteral("Preferences"));
    ui::UseDesignedFont(this);
    setFixedSize(351, 281);
    setSizeGripEnabled(false);
    if (m_app.GlobalLanguage) {
        std::vector<std::string> names;
        m_app.language().ListLanguages(&names);
        SetLanguages(names);
    }
    SelectLanguageIndex(0);
    ApplyTexts();
}

TPreferForm::~TPreferForm() = default;

void TPreferForm::EnsureBuilt()
{
    if (ComboBox1)
        return;
    createControls();
    setTabOrder();
    fillLanguageList();
    // The user's pick in the list is the object's selection.
    connect(ComboBox1, &QComboBox::currentIndexChanged, this, [this](int index) { m_selected = index; });
    if (m_captions)
        applyCaptions();
}

void TPreferForm::setVisible(bool visible)
{
    if (visible)
        EnsureBuilt();
    else
        m_fallback.reset();  // the choice is over: the selection is in use now
    QDialog::setVisible(visible);
}

void TPreferForm::createControls()
{
    auto label = [this](const char* name, const char* text, int y) {
        auto* l = new QLabel(QString::fromLatin1(text), this);
        l->setObjectName(QString::fromLatin1(name));
        l->setGeometry(8, y, 153, 16);
        return l;
    };
    auto edit = [this](const char* name, int y) {
        auto* e = new QLineEdit(this);
        e->setObjectName(QString::fromLatin1(name));
        e->setGeometry(8, y, 153, 21);
        return e;
    };

    m_label1 = label("Label1", "Select language:", 8);
    m_label2 = label("Label2", "Proxy server Address:", 56);
    m_label3 = label("Label3", "Proxy server port:", 104);
    m_label4 = label("Label4", "Proxy user:", 152);
    m_label5 = label("Label5", "Proxy password:", 200);

    ComboBox1 = new QComboBox(this);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->setEditable(false);
    ComboBox1->setGeometry(8, 24, 153, 21);

    m_edit1 = edit("Edit1", 72);
    m_edit2 = edit("Edit2", 120);
    m_edit3 = edit("Edit3", 168);
    m_edit4 = edit("Edit4", 216);
    m_edit4->setEchoMode(QLineEdit::Password);

    m_checkBox1 = new QCheckBox(QStringLiteral("AutoConnect"), this);
    m_checkBox1->setObjectName(QStringLiteral("CheckBox1"));
    m_checkBox1->setGeometry(168, 24, 177, 17);

    m_pageControl1 = new QTabWidget(this);
    m_pageControl1->setObjectName(QStringLiteral("PageControl1"));
    m_pageControl1->setGeometry(168, 48, 177, 190);
    // Both tabs stay in sight: a caption too long for half the width is
    // shortened with an ellipsis instead of pushing the other tab behind
    // scroll arrows.
    m_pageControl1->setUsesScrollButtons(false);
    m_pageControl1->setElideMode(Qt::ElideRight);
    auto page = [this](const char* sheetName, const char* listName, const char* caption,
                       QListWidget*& list) {
        auto* sheet = new QWidget(m_pageControl1);
        sheet->setObjectName(QString::fromLatin1(sheetName));
        list = new QListWidget(sheet);
        list->setObjectName(QString::fromLatin1(listName));
        list->setGeometry(4, 4, 163, 154);
        m_pageControl1->addTab(sheet, QString::fromLatin1(caption));
        return sheet;
    };
    m_tabSheet1 = page("TabSheet1", "CheckListBox1", "Default", m_checkListBox1);
    m_tabSheet2 = page("TabSheet2", "CheckListBox2", "Active", m_checkListBox2);
    m_pageControl1->setCurrentIndex(1);

    auto button = [this](const char* name, const char* text, int x) {
        auto* b = new QPushButton(QString::fromLatin1(text), this);
        b->setObjectName(QString::fromLatin1(name));
        b->setGeometry(x, 248, 65, 25);
        // Enter in an edit does not confirm the dialog: only the buttons do.
        b->setAutoDefault(false);
        return b;
    };
    m_button1 = button("Button1", "OK", 168);
    m_button2 = button("Button2", "Cancel", 244);

    m_speedButton1 = new QToolButton(this);
    m_speedButton1->setObjectName(QStringLiteral("SpeedButton1"));
    m_speedButton1->setGeometry(320, 248, 25, 25);
    m_speedButton1->setIcon(style()->standardIcon(QStyle::SP_MessageBoxQuestion));
    m_speedButton1->setFocusPolicy(Qt::NoFocus);

    connect(m_button1, &QPushButton::clicked, this, &TPreferForm::Button1Click);
    connect(m_button2, &QPushButton::clicked, this, &TPreferForm::Button2Click);
    connect(m_speedButton1, &QToolButton::clicked, this, &TPreferForm::SpeedButton1Click);
}

void TPreferForm::setTabOrder()
{
    const std::vector<QWidget*> order{ComboBox1, m_edit1,  m_edit2,     m_button1,     m_button2,
                                      m_edit3,   m_edit4, m_checkBox1, m_pageControl1};
    for (std::size_t i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}

void TPreferForm::ApplyTexts()
{
    if (!m_app.GlobalLanguage)
        return;
    const TLanguage& lang = m_app.language();
    const std::string caption = lang.Text("FPCaption");
    if (caption.empty())
        return;
    m_captions = Captions{ShowText(caption),
                          ShowText(lang.Text("FPLabel1")),
                          ShowText(lang.Text("FPLabel2")),
                          ShowText(lang.Text("FPLabel3")),
                          ShowText(lang.Text("FPButton1")),
                          ShowText(lang.Text("FPButton2")),
                          ShowText(lang.Text("AutoConnect")),
                          ShowText(lang.Text("Page1")),
                          ShowText(lang.Text("Page2"))};
    setWindowTitle(m_captions->title);
    if (ComboBox1)
        applyCaptions();
}

void TPreferForm::applyCaptions()
{
    m_label1->setText(m_captions->label1);
    m_label2->setText(m_captions->label2);
    m_label3->setText(m_captions->label3);
    m_button1->setText(m_captions->button1);
    m_button2->setText(m_captions->button2);
    m_checkBox1->setText(m_captions->autoConnect);
    const QString pages[] = {m_captions->page1, m_captions->page2};
    for (int i = 0; i < 2; ++i) {
        m_pageControl1->setTabText(i, pages[i]);
        // A caption shortened to fit keeps its whole text in reach.
        m_pageControl1->setTabToolTip(i, pages[i]);
    }
}

std::string TPreferForm::languageAt(int index) const
{
    return index >= 0 && index < static_cast<int>(m_languages.size()) ? m_languages[index] : std::string();
}

std::string TPreferForm::SelectedLanguage() const
{
    return languageAt(m_selected);
}

std::string TPreferForm::LanguageInUse() const
{
    return languageAt(m_fallback.value_or(m_selected));
}

void TPreferForm::SelectLanguageIndex(int index)
{
    m_selected = index >= 0 && index < static_cast<int>(m_languages.size()) ? index : -1;
    if (ComboBox1)
        ComboBox1->setCurrentIndex(m_selected);
}

void TPreferForm::SelectLanguage(const std::string& name)
{
    int found = -1;
    for (int i = 0; i < static_cast<int>(m_languages.size()) && found < 0; ++i)
        if (platform::equalsNoCase(m_languages[i], name))
            found = i;
    SelectLanguageIndex(found);
}

void TPreferForm::SetLanguages(const std::vector<std::string>& names)
{
    if (m_languages == names)
        return;
    const std::string selected = SelectedLanguage();
    const bool hadSelection = m_selected >= 0;
    m_languages = names;
    m_selected = -1;
    if (ComboBox1)
        fillLanguageList();
    if (hadSelection)
        SelectLanguage(selected);
}

void TPreferForm::fillLanguageList()
{
    const QSignalBlocker quiet(ComboBox1);
    ComboBox1->clear();
    for (const std::string& name : m_languages)
        ComboBox1->addItem(ShowText(name), QByteArray::fromStdString(name));
    ComboBox1->setCurrentIndex(m_selected);
}

std::int32_t TPreferForm::ParsePort(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return 0;
    const auto last = text.find_last_not_of(" \t");
    const char* begin = text.data() + first;
    const char* end = text.data() + last + 1;
    if (*begin == '+' && end - begin > 1 && begin[1] != '-')
        ++begin;
    std::int32_t value = 0;
    const auto [ptr, ec] = std::from_chars(begin, end, value);
    return (ec == std::errc() && ptr == end) ? value : 0;
}

void TPreferForm::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TPreferForm::FormShow()
{
    EnsureBuilt();
    const ProxySettings proxy = m_app.c.Proxy();
    m_shownProxy = proxy;
    m_edit1->setText(ShowText(proxy.ProxyName));
    SavedLanguageIndex = m_selected;
    m_fallback = SavedLanguageIndex;
    m_edit2->setText(QString::number(proxy.ProxyPort));
    m_edit3->setText(ShowText(proxy.ProxyUser));
    m_edit4->setText(ShowText(proxy.ProxyPass));
    m_checkBox1->setChecked(m_app.c.AutoConnect);
    fillModuleLists();
}

void TPreferForm::fillModuleLists()
{
    m_checkListBox1->clear();
    m_checkListBox2->clear();
    std::vector<std::string> names;
    try {
        names = m_app.registry.subKeyNames(modules::ProductKey);
    } catch (const std::exception&) {
        // An unreadable registry lists no modules.
    }
    for (const auto& name : names) {
        const std::string key = modules::ModuleKey(name);
        if (!m_app.registry.keyExists(key))
            continue;
        addModuleItem(m_checkListBox1, name, flagIsSet(m_app.registry, key, "Default"));
        addModuleItem(m_checkListBox2, name, flagIsSet(m_app.registry, key, "Active"));
    }
}

void TPreferForm::Button1Click()
{
    // An error ends the handler with a message, as for any event handler; the
    // dialog then stays open.
    EnsureBuilt();
    try {
        m_app.c.AutoConnect = m_checkBox1->isChecked();
        // No selection (the stored language matched no entry): keep the
        // current language rather than ask the server for one without a name.
        if (m_selected >= 0)
            SwitchLanguage(SelectedLanguage(), SavedLanguageIndex);
        storeProxy();
        if (SetProxyParametersForOpenModules)
            SetProxyParametersForOpenModules();
        if (const auto error = writeModuleFlags()) {
            QMessageBox::warning(this, windowTitle(), ShowText(*error));
            return;
        }
    } catch (const std::exception& e) {
        QMessageBox::warning(this, windowTitle(), ShowText(e.what()));
        return;
    }
    accept();
}

bool TPreferForm::SwitchLanguage(const std::string& name, int restoreIndex)
{
    if (m_app.language().LanguageInstalled(name)) {
        loadLanguage(name);
        return true;
    }
    // The download dialog reads the wanted language from the selection. The
    // language object may be replaced while it runs (a finished sync), so it
    // is looked up afresh afterwards, and a file that is still missing is
    // never switched to. Until then the language in use is the one to fall
    // back to: the program may be closed (and its settings saved) while the
    // dialog is open.
    auto* download = m_app.downloadLanguageForm;
    const std::optional<int> outerFallback = std::exchange(m_fallback, restoreIndex);
    const bool installed =
        download && download->exec() == QDialog::Accepted && m_app.language().LanguageInstalled(name);
    m_fallback = outerFallback;
    if (installed) {
        loadLanguage(name);
        return true;
    }
    SelectLanguageIndex(restoreIndex);
    return false;
}

void TPreferForm::loadLanguage(const std::string& name)
{
    m_app.language().LoadLanguage(name);
    ApplyTexts();
    if (MainApplyTexts)
        MainApplyTexts();
}

void TPreferForm::storeProxy()
{
    // A value read from settings.ini keeps its bytes unless the user changed
    // it; typed text is stored as UTF-8.
    ProxySettings proxy;
    proxy.ProxyName = ui::EditedText(m_edit1->text(), m_shownProxy.ProxyName);
    proxy.ProxyUser = ui::EditedText(m_edit3->text(), m_shownProxy.ProxyUser);
    proxy.ProxyPass = ui::EditedText(m_edit4->text(), m_shownProxy.ProxyPass);
    proxy.ProxyPort = ParsePort(ui::TypedText(m_edit2->text()));
    m_app.c.SetProxy(proxy);
}

std::optional<std::string> TPreferForm::writeModuleFlags()
{
    std::optional<std::string> firstError;
    const int count = std::min(m_checkListBox1->count(), m_checkListBox2->count());
    for (int k = 0; k < count; ++k) {
        const std::string key =
            modules::ModuleKey(nameOf(m_checkListBox2->item(k)->data(NameRole)));
        // A module whose key cannot be written keeps its old values; the
        // others are still written.
        try {
            if (!m_app.registry.keyExists(key))
                continue;
            m_app.registry.writeString(key, "Default", isChecked(m_checkListBox1, k) ? "Y" : "N");
            m_app.registry.writeString(key, "Active", isChecked(m_checkListBox2, k) ? "Y" : "N");
        } catch (const std::exception& e) {
            if (!firstError)
                firstError = e.what();
        }
    }
    return firstError;
}

void TPreferForm::Button2Click()
{
    reject();
}

void TPreferForm::reject()
{
    // Escape and the close box end the dialog like Cancel: a language picked
    // but not loaded must not stay selected, or it would be saved, sent to the
    // server and loaded at the next start.
    SelectLanguageIndex(SavedLanguageIndex);
    QDialog::reject();
}

void TPreferForm::SpeedButton1Click()
{
    platform::openUrl(sync::HostUrl(m_app.c.WebHost) + "/faq");
}

}  // namespace vexor
