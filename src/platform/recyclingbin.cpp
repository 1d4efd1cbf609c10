#include "platform/recyclingbin.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

namespace tunesift {

bool RecycleBinHost::moveToTrash(const QString& path)
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
    // The home trash is made inside the data folder but not the folder itself; a fresh account
    // without one would otherwise see every file refused.
    QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation));
#endif
    return QFile::moveToTrash(path);
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
        if (host.moveToTrash(paths[k]))
            result.moved.append(paths[k]);
        else
            result.failed.append(paths[k]);
    }
    if (!result.cancelled)
        host.reportProgress(total, total);
    if (!result.failed.isEmpty())
        host.reportFailures(result.failed);
    return result;
}

} // namespace tunesift
