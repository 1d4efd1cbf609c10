#include "ui/main/folderpaths.h"

#include "files/pathops.h"

#include <QDir>
#include <QFileInfo>
#include <QMimeData>
#include <QUrl>

namespace tunesift {

namespace {

const QChar kSeparator = QLatin1Char(kPathSeparator);

bool isUnixRoot(const QString& path)
{
    return path.size() == 1 && path.front() == kSeparator;
}

} // namespace

QString folderEntryFromDialog(const QString& chosen)
{
    QString entry = QDir::toNativeSeparators(chosen);
    if (entry.endsWith(kSeparator) && !isUnixRoot(entry))
        entry.chop(1);
    return entry;
}

std::optional<QString> folderEntryFromDrop(const QString& localPath)
{
    const QString path = QDir::toNativeSeparators(localPath);
    if (path.isEmpty())
        return std::nullopt;
    const std::string utf8 = path.toStdString();
    if (IsFolder(utf8))
        return path;

    QString folder = QString::fromStdString(std::string(FolderOfPath(utf8)));
    if (folder.isEmpty())
        return std::nullopt;
    if (!isUnixRoot(folder))
        folder.chop(1);
    return folder;
}

DropEntries folderEntriesFromDrop(const QMimeData* data)
{
    DropEntries result;
    if (!data || !data->hasUrls() || data->urls().isEmpty()) {
        result.ok = false;
        return result;
    }
    for (const QUrl& url : data->urls()) {
        const std::optional<QString> entry =
            url.isLocalFile() ? folderEntryFromDrop(url.toLocalFile()) : std::nullopt;
        if (!entry) {
            result.ok = false;
            return result;
        }
        result.entries.append(*entry);
    }
    return result;
}

QString folderEntryFromArgument(const QString& argument)
{
    return folderEntryFromDialog(QDir::cleanPath(QFileInfo(argument).absoluteFilePath()));
}

} // namespace tunesift
