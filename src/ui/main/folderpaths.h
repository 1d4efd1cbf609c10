#pragma once

#include <QString>
#include <QStringList>
#include <optional>

class QMimeData;

namespace tunesift {

// Entry text for a folder chosen in the browse dialog: without a trailing separator ("C:\"
// becomes "C:"), except the file-system root "/", which would otherwise become the empty text and
// could never be listed. Empty stays empty (dialog cancelled).
QString folderEntryFromDialog(const QString& chosen);

// Entry text for one dropped local path: a folder as delivered, a file's folder without its
// trailing separator (again keeping the root "/"). Nothing when no folder can be derived.
std::optional<QString> folderEntryFromDrop(const QString& localPath);

// Entry texts for every item of a drop, in the order delivered. ok is false when the drop carries
// no local file or an item yields no folder; the entries before that item are still returned.
struct DropEntries
{
    QStringList entries;
    bool ok = true;
};
DropEntries folderEntriesFromDrop(const QMimeData* data);

// Entry text for a folder named on the command line: absolute, tidied, native separators and no
// trailing separator (the root stays "/").
QString folderEntryFromArgument(const QString& argument);

} // namespace tunesift
