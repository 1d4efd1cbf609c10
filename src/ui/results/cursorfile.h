#pragma once

#include <QCursor>
#include <QString>
#include <optional>

namespace tunesift {

// The hand cursor file the program looks for beside its executable.
inline constexpr char kHandCursorFile[] = "HAND-M.CUR";

// Reads a Windows cursor file (.cur) with its hot spot; nothing when the file is missing or not
// a cursor Qt can decode.
std::optional<QCursor> LoadCursorFile(const QString& path);

} // namespace tunesift
