#pragma once

// Conversions between the program's 8-bit texts (std::string in the system
// code page) and Qt's strings, for the dialogs.

#include <QString>

#include <string>

namespace vexor::dialogs {

inline QString qtext(const std::string& text)
{
    return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::string stdtext(const QString& text)
{
    return text.toLocal8Bit().toStdString();
}

}  // namespace vexor::dialogs
