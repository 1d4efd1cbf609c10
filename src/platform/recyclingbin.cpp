#include "platform/recyclingbin.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <algorithm>
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

namespace {

// The last steps of a restore, once the trash's record has named the place: never over
// something that stands there now, the folder made again if it is gone, the record removed.
RestoreOutcome moveBack(const QString& pathInTrash, const QString& place, const QString& record)
{
    const QFileInfo file(pathInTrash);
    if (place.isEmpty() || !(file.exists() || file.isSymLink()))
        return RestoreOutcome::NotInTrash;
    const QFileInfo target(place);
    if (target.exists() || target.isSymLink())
        return RestoreOutcome::PlaceTaken;
    if (!QDir().mkpath(target.absolutePath()) || !QFile::rename(pathInTrash, place))
        return RestoreOutcome::Failed;
    QFile::remove(record);
    return RestoreOutcome::Restored;
}

// The old place a Recycle Bin record names: 8 bytes of version, 8 of size, 8 of deletion time,
// then the path in UTF-16 (version 1: a field of 260 units; version 2: the number of units,
// closing zero included, in 4 bytes, then the units). Empty when the record cannot be read.
QString recycleBinPlace(const QString& recordPath)
{
    QFile record(recordPath);
    if (!record.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = record.read(64 * 1024);
    const auto number = [&](qsizetype at, int size) {
        quint64 value = 0;
        for (int k = size - 1; k >= 0; --k)
            value = value << 8 | static_cast<unsigned char>(bytes[at + k]);
        return value;
    };
    if (bytes.size() < 28)
        return {};
    qsizetype start = 24;
    qsizetype units = 260;
    if (number(0, 8) == 2) {
        start = 28;
        units = static_cast<qsizetype>(number(24, 4));
    } else if (number(0, 8) != 1) {
        return {};
    }
    units = std::min(units, (bytes.size() - start) / 2);
    QString place;
    for (qsizetype k = 0; k < units; ++k) {
        const auto unit = static_cast<char16_t>(number(start + 2 * k, 2));
        if (unit == 0)
            break;
        place.append(QChar(unit));
    }
    return place;
}

} // namespace

RestoreOutcome RestoreFromRecycleBin(const QString& pathInTrash, const QString& expectedPlace)
{
    const QFileInfo file(pathInTrash);
    if (!file.fileName().startsWith(QLatin1String("$R")))
        return RestoreOutcome::NotInTrash;
    const QString record = file.dir().filePath(QStringLiteral("$I") + file.fileName().mid(2));
    // Windows paths differ in neither letter case nor separator.
    const auto same = [](const QString& a, const QString& b) {
        const auto clean = [](QString path) {
            return QDir::cleanPath(path.replace(QLatin1Char('\\'), QLatin1Char('/')));
        };
        return clean(a).compare(clean(b), Qt::CaseInsensitive) == 0;
    };
    const QString place = recycleBinPlace(record);
    if (place.isEmpty() || !same(place, expectedPlace))
        return RestoreOutcome::NotInTrash;
    return moveBack(pathInTrash, expectedPlace, record);
}

#if defined(Q_OS_WIN)

bool CanRestoreFromTrash()
{
    return true;
}

RestoreOutcome RestoreFromTrash(const QString& pathInTrash, const QString& place)
{
    return RestoreFromRecycleBin(pathInTrash, place);
}

#elif defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)

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
    return moveBack(pathInTrash, place, infoPath);
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
