// Between the engine's texts and paths and Qt's.
#pragma once

#include <QFile>
#include <QString>
#include <filesystem>
#include <string>

namespace restorix {

inline QString QStringFromUtf16(const std::u16string& text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::filesystem::path PathFromQString(const QString& path) {
  return std::filesystem::path(QFile::encodeName(path).toStdString());
}

inline QString QStringFromPath(const std::filesystem::path& path) {
  return QFile::decodeName(QByteArray::fromStdString(path.native()));
}

}  // namespace restorix
