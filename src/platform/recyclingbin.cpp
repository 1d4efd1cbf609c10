#include "platform/recyclingbin.h"

#include <QFile>

namespace tunesift {

bool RecycleBinHost::moveToTrash(const QString& path)
{
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
