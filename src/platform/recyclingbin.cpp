#include "platform/recyclingbin.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <algorithm>
#include <cctype>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(Q_OS_LINUX)
#include <sys/syscall.h>
#endif
#endif

namespace tunesift {

bool RecycleBinHost::moveToTrash(const QString& path, QString* pathInTrash)
{
    QString where;
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
    // Our own writer: Qt's writes the record's path as it is, which a line feed breaks and a
    // '%' changes for every other reader.
    const bool moved = MoveToFreedesktopTrash(path, &where);
#else
    const bool moved = QFile::moveToTrash(path, &where);
#endif
    if (pathInTrash)
        *pathInTrash = moved ? where : QString();
    return moved;
}

std::optional<MovedFileStamp> StampOfFile(const QString& path)
{
#ifdef Q_OS_WIN
    const HANDLE file = ::CreateFileW(
        reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(path).utf16()),
        FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool ok = ::GetFileInformationByHandle(file, &info) != 0;
    ::CloseHandle(file);
    if (!ok)
        return std::nullopt;
    MovedFileStamp stamp;
    stamp.device = info.dwVolumeSerialNumber;
    stamp.inode = (quint64{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    stamp.size = static_cast<qint64>((quint64{info.nFileSizeHigh} << 32) | info.nFileSizeLow);
    stamp.modifiedNanoseconds = static_cast<qint64>(
        (quint64{info.ftLastWriteTime.dwHighDateTime} << 32) | info.ftLastWriteTime.dwLowDateTime);
    return stamp;
#else
    struct stat info
    {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
    MovedFileStamp stamp;
    stamp.device = static_cast<quint64>(info.st_dev);
    stamp.inode = static_cast<quint64>(info.st_ino);
    stamp.size = static_cast<qint64>(info.st_size);
#if defined(Q_OS_DARWIN)
    stamp.modifiedNanoseconds =
        static_cast<qint64>(info.st_mtimespec.tv_sec) * 1'000'000'000 + info.st_mtimespec.tv_nsec;
#else
    stamp.modifiedNanoseconds =
        static_cast<qint64>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
#endif
    return stamp;
#endif
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
        // Taken before the move: a rename keeps all of it, so the file in the trash must show
        // the same when it is put back.
        const std::optional<MovedFileStamp> stamp = StampOfFile(paths[k]);
        if (host.moveToTrash(paths[k], &inTrash)) {
            result.moved.append(paths[k]);
            result.inTrash.append(inTrash);
            result.stamps.push_back(stamp);
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

enum class RenameResult
{
    Renamed,
    TargetExists,
    OtherFileSystem,
    Failed,
};

// Moves the file to the place by a rename that never replaces what stands there and never
// copies.
RenameResult renameWithoutReplacing(const QString& from, const QString& to)
{
#ifdef Q_OS_WIN
    // Without MOVEFILE_REPLACE_EXISTING nothing is replaced, without MOVEFILE_COPY_ALLOWED
    // nothing is copied.
    if (::MoveFileExW(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(from).utf16()),
                      reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(to).utf16()), 0))
        return RenameResult::Renamed;
    switch (::GetLastError()) {
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
        return RenameResult::TargetExists;
    case ERROR_NOT_SAME_DEVICE:
        return RenameResult::OtherFileSystem;
    default:
        return RenameResult::Failed;
    }
#else
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    const auto failure = [](int error) {
        return error == EEXIST  ? RenameResult::TargetExists
               : error == EXDEV ? RenameResult::OtherFileSystem
                                : RenameResult::Failed;
    };
#if defined(RENAME_NOREPLACE)
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) ==
        0)
        return RenameResult::Renamed;
    if (errno != EINVAL && errno != ENOSYS)
        return failure(errno);
#elif defined(Q_OS_LINUX) && defined(SYS_renameat2)
    constexpr unsigned kNoReplace = 1; // RENAME_NOREPLACE
    if (::syscall(SYS_renameat2, AT_FDCWD, source.constData(), AT_FDCWD, target.constData(),
                  kNoReplace) == 0)
        return RenameResult::Renamed;
    if (errno != EINVAL && errno != ENOSYS)
        return failure(errno);
#endif
    // A file system (or system) without the no-replace rename: a second name, which is refused
    // where one stands already, then the old name goes.
    if (::link(source.constData(), target.constData()) == 0) {
        ::unlink(source.constData());
        return RenameResult::Renamed;
    }
    return failure(errno);
#endif
}

bool exists(const QString& path)
{
    return StampOfFile(path).has_value();
}

// The last steps of a restore, once the trash's record has named the place: only the file that
// was moved, never over something that stands there now, the folder made again if it is gone,
// the record removed.
RestoreOutcome moveBack(const QString& pathInTrash, const QString& place, const QString& record,
                        const std::optional<MovedFileStamp>& moved)
{
    const std::optional<MovedFileStamp> now = StampOfFile(pathInTrash);
    if (place.isEmpty() || !now)
        return RestoreOutcome::NotInTrash;
    if (moved && *now != *moved)
        return RestoreOutcome::Replaced;
    if (exists(place))
        return RestoreOutcome::PlaceTaken;
    if (!QDir().mkpath(QFileInfo(place).absolutePath()))
        return RestoreOutcome::Failed;
    switch (renameWithoutReplacing(pathInTrash, place)) {
    case RenameResult::Renamed:
        QFile::remove(record);
        return RestoreOutcome::Restored;
    case RenameResult::TargetExists:
        return RestoreOutcome::PlaceTaken;
    case RenameResult::OtherFileSystem:
    case RenameResult::Failed:
        break;
    }
    return RestoreOutcome::Failed;
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

QByteArray TrashInfoPath(const QByteArray& path)
{
    // Unreserved characters (letters, digits, "-._~") and the separators stay as they are.
    return path.toPercentEncoding("/");
}

#ifdef Q_OS_WIN

bool MoveToFreedesktopTrash(const QString&, QString*)
{
    return false;
}

#else

namespace {

// A folder of the trash, made for this user alone where it is missing; an existing one must be a
// real folder (not a link that would lead the files elsewhere).
bool ownFolder(const QByteArray& folder)
{
    if (::mkdir(folder.constData(), 0700) == 0)
        return true;
    struct stat info
    {};
    return errno == EEXIST && ::lstat(folder.constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The highest folder above the file's folder that is still on the file's file system.
QByteArray topFolderOf(QByteArray folder, dev_t device)
{
    while (folder != "/") {
        const qsizetype cut = folder.lastIndexOf('/');
        const QByteArray up = cut <= 0 ? QByteArray("/") : folder.left(cut);
        struct stat info
        {};
        if (::stat(up.constData(), &info) != 0 || info.st_dev != device)
            break;
        folder = up;
    }
    return folder;
}

// The trash for a file on the device, and the path its record names.
std::optional<QByteArray> trashFor(const QByteArray& file, dev_t device, QByteArray* recorded)
{
    // The home trash is made inside the data folder but not the folder itself; a fresh account
    // without one would otherwise see every file refused.
    const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    QDir().mkpath(dataHome);
    struct stat home
    {};
    if (::stat(QFile::encodeName(dataHome).constData(), &home) == 0 && home.st_dev == device) {
        const QByteArray trash = QFile::encodeName(dataHome) + "/Trash";
        if (!ownFolder(trash))
            return std::nullopt;
        *recorded = file;
        return trash;
    }
    const qsizetype cut = file.lastIndexOf('/');
    const QByteArray top = topFolderOf(cut <= 0 ? QByteArray("/") : file.left(cut), device);
    const QByteArray base = top == "/" ? QByteArray() : top;
    const QByteArray uid = QByteArray::number(static_cast<qulonglong>(::getuid()));
    // An administrator's $topdir/.Trash serves every user when it is a real folder with the
    // sticky bit; otherwise each user has $topdir/.Trash-$uid.
    QByteArray trash;
    struct stat shared
    {};
    if (::lstat((base + "/.Trash").constData(), &shared) == 0 && S_ISDIR(shared.st_mode) &&
        (shared.st_mode & S_ISVTX) && ownFolder(base + "/.Trash/" + uid))
        trash = base + "/.Trash/" + uid;
    else if (ownFolder(base + "/.Trash-" + uid))
        trash = base + "/.Trash-" + uid;
    else
        return std::nullopt;
    *recorded = file.mid(base.size() + 1);
    return trash;
}

// The name a file takes in the trash: its own, then "name (2).ext" and so on; shortened where
// the record's name (the file's name and ".trashinfo") would pass the 255 bytes a name may have.
// The record keeps the whole path.
QByteArray trashName(const QByteArray& name, int attempt)
{
    constexpr qsizetype kLongest = 255 - 10;
    const qsizetype dot = name.lastIndexOf('.');
    qsizetype stemEnd = dot > 0 && name.size() - dot <= 16 ? dot : name.size();
    QByteArray stem = name.left(stemEnd);
    const QByteArray suffix = name.mid(stemEnd);
    const QByteArray mark = attempt == 1 ? QByteArray() : " (" + QByteArray::number(attempt) + ")";
    const qsizetype room = kLongest - suffix.size() - mark.size();
    if (stem.size() > room) {
        stem.truncate(room);
        // Not in the middle of a UTF-8 sequence.
        while (!stem.isEmpty() && (static_cast<unsigned char>(stem.back()) & 0xC0) == 0x80)
            stem.chop(1);
        if (!stem.isEmpty() && static_cast<unsigned char>(stem.back()) >= 0xC0)
            stem.chop(1);
    }
    return stem + mark + suffix;
}

} // namespace

bool MoveToFreedesktopTrash(const QString& path, QString* pathInTrash)
{
    const QString absolute = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    const QByteArray file = QFile::encodeName(absolute);
    struct stat info
    {};
    if (::lstat(file.constData(), &info) != 0)
        return false;
    QByteArray recorded;
    const std::optional<QByteArray> trash = trashFor(file, info.st_dev, &recorded);
    if (!trash || !ownFolder(*trash + "/files") || !ownFolder(*trash + "/info"))
        return false;
    const QByteArray record =
        "[Trash Info]\nPath=" + TrashInfoPath(recorded) + "\nDeletionDate=" +
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")).toLatin1() +
        '\n';
    const QByteArray name = file.mid(file.lastIndexOf('/') + 1);
    for (int attempt = 1; attempt < 1000; ++attempt) {
        const QByteArray inTrash = trashName(name, attempt);
        // The record is made first, exclusively: it claims the name in the trash.
        const QByteArray infoFile = *trash + "/info/" + inTrash + ".trashinfo";
        const int fd = ::open(infoFile.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return false;
        }
        const bool written = ::write(fd, record.constData(), static_cast<size_t>(record.size())) ==
                             static_cast<ssize_t>(record.size());
        const bool closed = ::close(fd) == 0;
        const QString target = QFile::decodeName(*trash + "/files/" + inTrash);
        if (written && closed) {
            switch (renameWithoutReplacing(absolute, target)) {
            case RenameResult::Renamed:
                if (pathInTrash)
                    *pathInTrash = target;
                return true;
            case RenameResult::TargetExists:
                ::unlink(infoFile.constData());
                continue;
            case RenameResult::OtherFileSystem:
            case RenameResult::Failed:
                break;
            }
        }
        ::unlink(infoFile.constData());
        return false;
    }
    return false;
}

#endif

RestoreOutcome RestoreFromRecycleBin(const QString& pathInTrash, const QString& expectedPlace,
                                     const std::optional<MovedFileStamp>& moved)
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
    return moveBack(pathInTrash, expectedPlace, record, moved);
}

#if defined(Q_OS_WIN)

bool CanRestoreFromTrash()
{
    return true;
}

RestoreOutcome RestoreFromTrash(const QString& pathInTrash, const QString& place,
                                const std::optional<MovedFileStamp>& moved)
{
    return RestoreFromRecycleBin(pathInTrash, place, moved);
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

RestoreOutcome RestoreFromTrash(const QString& pathInTrash, const QString& expectedPlace,
                                const std::optional<MovedFileStamp>& moved)
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
    return moveBack(pathInTrash, place, infoPath, moved);
}

#else

bool CanRestoreFromTrash()
{
    return false;
}

RestoreOutcome RestoreFromTrash(const QString&, const QString&,
                                const std::optional<MovedFileStamp>&)
{
    return RestoreOutcome::NotInTrash;
}

#endif

} // namespace tunesift
