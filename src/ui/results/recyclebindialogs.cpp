#include "ui/results/recyclebindialogs.h"

#include "search/searchrun.h"

#include <QLocale>
#include <QMessageBox>
#include <QProgressDialog>
#include <algorithm>

namespace tunesift {

namespace {

// A message box grows with its text; past this many names the rest goes to the details.
constexpr qsizetype kNamesInReport = 15;

} // namespace

QString ConfirmMoveText(const QStringList& paths)
{
    if (paths.size() == 1)
        return QStringLiteral("Are you sure you want to move this file to the trash?\n\n%1")
            .arg(paths.front());
    return QStringLiteral("Are you sure you want to move these %1 files to the trash?")
        .arg(paths.size());
}

QString ConfirmMoveText(const QStringList& paths, const GoingFiles& going)
{
    const std::size_t count = going.provenCopies + going.unproven;
    const QString size =
        QLocale().formattedDataSize(going.bytes, 1, QLocale::DataSizeTraditionalFormat);
    QString text = count == 1
                       ? QStringLiteral("Move 1 file (%1) to the trash? ").arg(size)
                       : QStringLiteral("Move %1 files (%2) to the trash? ").arg(count).arg(size);
    const auto proven = [](std::size_t n) {
        return n == 1 ? QStringLiteral("1 is a copy of the same recording")
                      : QStringLiteral("%1 are copies of the same recording").arg(n);
    };
    const auto unproven = [](std::size_t n) {
        return n == 1 ? QStringLiteral("1 was matched only by name, size or title")
                      : QStringLiteral("%1 were matched only by name, size or title").arg(n);
    };
    if (count == 1)
        text += going.provenCopies == 1
                    ? QStringLiteral("It is a copy of the same recording.")
                    : QStringLiteral("It was matched only by name, size or title.");
    else if (going.unproven == 0)
        text += QStringLiteral("All %1 are copies of the same recording.").arg(count);
    else if (going.provenCopies == 0)
        text += QStringLiteral("All %1 were matched only by name, size or title.").arg(count);
    else
        text += proven(going.provenCopies) + QStringLiteral("; ") + unproven(going.unproven) +
                QLatin1Char('.');
    if (paths.size() == 1)
        text += QStringLiteral("\n\n") + paths.front();
    return text;
}

QString FailureReportText(const QStringList& paths)
{
    QString text =
        paths.size() == 1
            ? QStringLiteral("This file could not be moved to the trash:\n")
            : QStringLiteral("These %1 files could not be moved to the trash:\n").arg(paths.size());
    const qsizetype shown = std::min(paths.size(), kNamesInReport);
    for (qsizetype k = 0; k < shown; ++k)
        text += QLatin1Char('\n') + paths[k];
    if (paths.size() > shown)
        text += QStringLiteral("\n... and %1 more.").arg(paths.size() - shown);
    return text;
}

RecycleBinDialogs::RecycleBinDialogs(QWidget* parent) : m_parent(parent) {}

RecycleBinDialogs::~RecycleBinDialogs() = default;

bool RecycleBinDialogs::confirmMove(const QStringList& paths)
{
    const QString text = m_going ? ConfirmMoveText(paths, *m_going) : ConfirmMoveText(paths);
    m_going.reset();
    // Enter alone never deletes: No is the default answer.
    const auto answer = QMessageBox::question(m_parent, QString::fromLatin1(kProductName), text,
                                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    return answer == QMessageBox::Yes;
}

bool RecycleBinDialogs::reportProgress(qsizetype done, qsizetype total)
{
    if (total < kProgressFrom)
        return true;
    if (!m_progress) {
        m_progress = std::make_unique<QProgressDialog>(
            QStringLiteral("Moving files to the trash..."), QStringLiteral("Stop"), 0,
            static_cast<int>(total), m_parent);
        m_progress->setWindowTitle(QString::fromLatin1(kProductName));
        m_progress->setWindowModality(Qt::WindowModal);
        m_progress->setMinimumDuration(500);
        m_progress->setAutoClose(false);
        m_progress->setAutoReset(false);
    }
    // A window-modal progress dialog lets the event loop run here, so Stop can be pressed.
    m_progress->setValue(static_cast<int>(done));
    const bool goOn = !m_progress->wasCanceled();
    if (done >= total || !goOn)
        m_progress.reset();
    return goOn;
}

void RecycleBinDialogs::reportFailures(const QStringList& paths)
{
    QMessageBox box(QMessageBox::Warning, QString::fromLatin1(kProductName),
                    FailureReportText(paths), QMessageBox::Ok, m_parent);
    if (paths.size() > kNamesInReport)
        box.setDetailedText(paths.join(QLatin1Char('\n')));
    box.exec();
}

} // namespace tunesift
