#include "app/uitext.h"

#include "platform/diagnostic.h"
#include "vexor/buildconfig.h"

#include <QApplication>
#include <QStringDecoder>
#include <QWidget>

#include <cstdlib>

namespace vexor::ui {

namespace {

constexpr int DesignedPointSize = 8;

// The decoder of the legacy code page; Latin-1 when Qt does not know the
// name, which is said once per name.
QStringDecoder legacyDecoder()
{
    static std::string reported;
    const std::string name = LegacyCodePage();
    QStringDecoder decoder(name.c_str(), QStringDecoder::Flag::Stateless);
    if (decoder.isValid())
        return decoder;
    if (reported != name) {
        reported = name;
        platform::writeDiagnostic("code page \"" + name + "\" is not known; texts are shown as Latin-1");
    }
    return QStringDecoder(QStringDecoder::Latin1, QStringDecoder::Flag::Stateless);
}

}  // namespace

std::string LegacyCodePage()
{
    const char* value = std::getenv("VEXOR_LEGACY_CODEPAGE");
    return (value && *value) ? std::string(value) : std::string(build::LegacyCodePage);
}

QString ShowText(std::string_view bytes)
{
    const QByteArrayView view(bytes.data(), static_cast<qsizetype>(bytes.size()));
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(view);
    if (!utf8.hasError())
        return text;
    QStringDecoder legacy = legacyDecoder();
    return legacy.decode(view);
}

QString ShowCaption(std::string_view bytes)
{
    return ShowText(bytes).replace(QLatin1Char('&'), QStringLiteral("&&"));
}

std::string TypedText(const QString& text)
{
    return text.toUtf8().toStdString();
}

std::string EditedText(const QString& shown, const std::string& original)
{
    return shown == ShowText(original) ? original : TypedText(shown);
}

QFont DesignedFont()
{
    QFont designed = QApplication::font();
    designed.setPointSize(DesignedPointSize);
    return designed;
}

void UseDesignedFont(QWidget* window)
{
    window->setFont(DesignedFont());
}

}  // namespace vexor::ui
