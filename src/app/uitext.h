#pragma once

// How every window shows and takes text.
//
// Names and values that come from files, the server or the registry are
// 8-bit strings and stay the exact bytes wherever they are stored, sent or
// compared; only their display goes through QString. A text that is valid
// UTF-8 is shown as UTF-8; any other text is decoded in the vendor's legacy
// code page: the environment variable VEXOR_LEGACY_CODEPAGE when set, the
// build setting of the same name otherwise (default "windows-1252"). A code
// page name that Qt does not know is reported once on stderr and Latin-1 is
// used instead. Text the user types is stored as UTF-8.
//
// Names (languages, modules, INI keys) compare with one rule everywhere:
// equal bytes, ASCII letters without regard to case (platform::equalsNoCase).
//
// Every window uses the designed font: the desktop's family at 8 points.
// GUI thread only.

#include <QFont>
#include <QString>

#include <string>
#include <string_view>

class QWidget;

namespace vexor::ui {

// The legacy code page's name as configured for this run.
std::string LegacyCodePage();

// `bytes` for display (see above). Never fails: bytes that the code page does
// not define are shown as whatever the decoder makes of them.
QString ShowText(std::string_view bytes);
// A caption for a menu item or a button: an "&" from a file shows as "&"
// instead of marking an access key.
QString ShowCaption(std::string_view bytes);
// Text the user typed, as stored: UTF-8.
std::string TypedText(const QString& text);
// What an edit that was filled with ShowText(original) holds now: the
// original bytes while the text is unchanged, UTF-8 once the user changed it.
std::string EditedText(const QString& shown, const std::string& original);

// The desktop's font family at the designed 8 points; applied to `window`.
QFont DesignedFont();
void UseDesignedFont(QWidget* window);

}  // namespace vexor::ui
