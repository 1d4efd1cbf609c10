#pragma once

#include <QString>
#include <QStringList>

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

struct RecycleBinResult
{
    bool confirmed = false; // the user agreed to the move
    bool cancelled = false; // the user stopped it before the last file
    QStringList moved;
    QStringList inTrash; // for each moved file, where the trash keeps it (may be empty)
    QStringList failed;  // files the trash refused; files never tried after a stop are in neither
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
    Failed,     // the move back failed
};

// Moves a file the trash holds back to the place it came from. The trash's record of the file
// must name that place (NotInTrash otherwise), so a file never goes anywhere else.
RestoreOutcome RestoreFromTrash(const QString& pathInTrash, const QString& place);

// RestoreFromTrash as on Windows (built everywhere, so that it can be tried anywhere): beside
// each file "$R<id>" the Recycle Bin keeps a record "$I<id>" that names the old place (version 1
// with a fixed field of 260 UTF-16 units, version 2 with the length first). The record goes with
// the file, so the bin lists no file that is no longer in it.
RestoreOutcome RestoreFromRecycleBin(const QString& pathInTrash, const QString& place);

} // namespace tunesift
