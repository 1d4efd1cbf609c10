#pragma once

#include <QCursor>
#include <QString>
#include <optional>

namespace tunesift {

// Reads a Windows cursor file (.cur, or an .ico used as one) with its hot spot. Nothing when the
// file is missing or Qt cannot decode its image.
std::optional<QCursor> LoadCursorFile(const QString& path);

// The window's hand pointer: "HAND-M.CUR" in the program's folder when it exists and can be
// read, Qt's pointing hand otherwise.
QCursor HandCursor(const QString& programFolder);

} // namespace tunesift
