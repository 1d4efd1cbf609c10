#include "platform/recyclingbin.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <cctype>

namespace tunesift {

bool RecycleBinHost::moveToTrash(const QString& path, QString* pathInTrash)
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
    // The home trash is made inside the data folder but not the folder itself; a fresh account
    // without one would otherwise see every file refused.
    QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation));
#endif
    QString where;
    const bool moved = QFile::moveToTrash(path, &where);
    if (pathInTrash)
        *pathInTrash = moved ? where : QString();
    return moved;
}

RecycleBinResult SendToRecycleBin(const QStringList& paths, RecycleBinHost& host)
{
    RecycleBinResult result;
    if (paths.isEmpty() || !host.confirmMove(paths))
        return result;
    result.confirmed = true;

    const qsizetype total = paths.size();
    for (qsizetype k = 0; k < total; ++k) {
        if (!host.reportProgress(k, total)) {
            result.cancelled = true;
            break;
        }
        QString inTrash;
        if (host.moveToTrash(paths[k], &inTrash)) {
            result.moved.append(paths[k]);
            result.inTrash.append(inTrash);
        } else {
            result.failed.append(paths[k]);
        }
    }
    if (!result.cancelled)
        host.reportProgress(total, total);
    if (!result.failed.isEmpty())
        host.reportFailures(result.failed);
    return result;
}

#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)

bool CanRestoreFromTrash()
{
    return true;
}

namespace {

// Percent-decoding that leaves a '%' without two hex digits as it is.
QByteArray decodePercents(const QByteArray& text)
{
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype k = 0; k < text.size(); ++k) {
        if (text[k] == '%' && k + 2 < text.size() &&
            std::isxdigit(static_cast<unsigned char>(text[k + 1])) &&
            std::isxdigit(static_cast<unsigned char>(text[k + 2]))) {
            out.append(static_cast<char>(text.mid(k + 1, 2).toInt(nullptr, 16)));
            k += 2;
        } else {
            out.append(text[k]);
        }
    }
    return out;
}

// The places a freedesktop.org trash record may mean: "Path=" in the "[Trash Info]" group,
// absolute for the home trash and relative to the volume's top folder for a volume's trash
// ($topdir/.Trash/$uid or $topdir/.Trash-$uid). The text should be percent-encoded, but some
// writers (Qt 6.4 among them) store it as it is, so both readings are offered, decoded first.
QStringList recordedPlaces(const QString& infoPath, const QDir& trashDir)
{
    QFile info(infoPath);
    if (!info.open(QIODevice::ReadOnly))
        return {};
    bool inGroup = false;
    while (!info.atEnd()) {
        const QByteArray line = info.readLine().trimmed();
        if (line.startsWith('[')) {
            inGroup = line == "[Trash Info]";
            continue;
        }
        if (!inGroup || !line.startsWith("Path="))
            continue;
        QDir top = trashDir;
        if (!top.dirName().startsWith(QLatin1String(".Trash-")))
            top.cdUp(); // $topdir/.Trash/$uid
        top.cdUp();
        QStringList places;
        for (const QByteArray& text : {decodePercents(line.mid(5)), line.mid(5)}) {
            const QString place = QFile::decodeName(text);
            if (place.isEmpty())
                continue;
            const QString full =
                QDir::cleanPath(QDir::isAbsolutePath(place) ? place : top.absoluteFilePath(place));
            if (!places.contains(full))
                places.append(full);
        }
        return places;
    }
    return {};
}

} // namespace

RestoreOutcome RestoreFromTrash(const QString& pathInTrash, const QString& expectedPlace)
{
    const QFileInfo file(pathInTrash);
    QDir trashDir = file.dir(); // .../files
    if (trashDir.dirName() != QLatin1String("files") || !trashDir.cdUp())
        return RestoreOutcome::NotInTrash;
    const QString infoPath =
        trashDir.filePath(QStringLiteral("info/") + file.fileName() + QStringLiteral(".trashinfo"));
    const QStringList places = recordedPlaces(infoPath, trashDir);
    const QString place = QDir::cleanPath(expectedPlace);
    if (!places.contains(place))
        return RestoreOutcome::NotInTrash;
    if (place.isEmpty() || !(file.exists() || file.isSymLink()))
        return RestoreOutcome::NotInTrash;
    const QFileInfo target(place);
    if (target.exists() || target.isSymLink())
        return RestoreOutcome::PlaceTaken;
    if (!QDir().mkpath(target.absolutePath()) || !QFile::rename(pathInTrash, place))
        return RestoreOutcome::Failed;
    QFile::remove(infoPath);
    return RestoreOutcome::Restored;
}

#else

bool CanRestoreFromTrash()
{
    return false;
}

RestoreOutcome RestoreFromTrash(const QString&, const QString&)
{
    return RestoreOutcome::NotInTrash;
}

#endif

} // namespace tunesift
