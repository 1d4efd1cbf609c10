#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace tunesift {

// What moving files to the trash needs from the user and the system. The window answers with
// dialogs; the tests answer from a script and may leave the real trash alone.
class RecycleBinHost
{
public:
    virtual ~RecycleBinHost() = default;

    // One question before anything is moved; false leaves every file where it is.
    virtual bool confirmMove(const QStringList& paths) = 0;
    // Moves one file into the user's trash; false when it could not be moved. pathInTrash, when
    // given, receives where the trash keeps it (empty when the platform does not say).
    virtual bool moveToTrash(const QString& path, QString* pathInTrash);
    // Called before the first file and after each one; false stops before the next file.
    virtual bool reportProgress(qsizetype done, qsizetype total)
    {
        Q_UNUSED(done);
        Q_UNUSED(total);
        return true;
    }
    // Called once, after the last file, when some files could not be moved.
    virtual void reportFailures(const QStringList& paths) = 0;
};

// What tells a moved file apart from any other that may later stand under its name in the trash:
// taken just before the move, compared again before the file is put back.
struct MovedFileStamp
{
    quint64 device = 0;
    quint64 inode = 0; // the file index on Windows
    qint64 size = 0;
    qint64 modifiedNanoseconds = 0;
    bool operator==(const MovedFileStamp&) const = default;
};
// The stamp of whatever the path names (a link itself, not what it points to); nothing when it
// names nothing or cannot be examined.
std::optional<MovedFileStamp> StampOfFile(const QString& path);

struct RecycleBinResult
{
    bool confirmed = false; // the user agreed to the move
    bool cancelled = false; // the user stopped it before the last file
    QStringList moved;
    QStringList inTrash; // for each moved file, where the trash keeps it (may be empty)
    std::vector<std::optional<MovedFileStamp>> stamps; // for each moved file, as it was moved
    QStringList failed; // files the trash refused; files never tried after a stop are in neither
};

// Asks once, then moves each path to the trash in the given order and names the files that
// could not be moved in one report. An empty list asks nothing and moves nothing.
RecycleBinResult SendToRecycleBin(const QStringList& paths, RecycleBinHost& host);

// Whether files moved to the trash can be put back by RestoreFromTrash on this platform: where
// the trash keeps a record of each file's old place that the program reads (the freedesktop.org
// trash, the Windows Recycle Bin). The macOS trash keeps none, so nothing there could confirm
// that the file at a trash path is still the one moved.
bool CanRestoreFromTrash();

enum class RestoreOutcome
{
    Restored,
    PlaceTaken, // something else now stands at the file's old place; the file stays in the trash
    NotInTrash, // the trash no longer holds the file or its record
    Replaced,   // the trash holds another file under that name now; it is left alone
    Failed,     // the move back failed (also when it would cross file systems); nothing changed
};

// Moves a file the trash holds back to the place it came from. The trash's record of the file
// must name that place (NotInTrash otherwise), so a file never goes anywhere else; with a stamp,
// the file in the trash must still be the one moved. The move is a rename that never replaces
// what stands at the place and never copies.
RestoreOutcome RestoreFromTrash(const QString& pathInTrash, const QString& place,
                                const std::optional<MovedFileStamp>& moved = std::nullopt);

// The freedesktop.org trash as its published rules describe it: the home trash for files on the
// home trash's file system, else the trash at the top of the file's own file system
// ($topdir/.Trash/$uid where an administrator made it, otherwise $topdir/.Trash-$uid). The
// record's Path= is percent-encoded (absolute in the home trash, relative to $topdir
// otherwise). The file is moved by a rename and never copied: false when that is not possible.
bool MoveToFreedesktopTrash(const QString& path, QString* pathInTrash);
// The Path= value of a record: every byte but unreserved characters and '/' percent-encoded.
QByteArray TrashInfoPath(const QByteArray& path);

// RestoreFromTrash as on Windows (built everywhere, so that it can be tried anywhere): beside
// each file "$R<id>" the Recycle Bin keeps a record "$I<id>" that names the old place (version 1
// with a fixed field of 260 UTF-16 units, version 2 with the length first). The record goes with
// the file, so the bin lists no file that is no longer in it.
RestoreOutcome RestoreFromRecycleBin(const QString& pathInTrash, const QString& place,
                                     const std::optional<MovedFileStamp>& moved = std::nullopt);

} // namespace tunesift
