#include "ui/results/recyclebindialogs.h"

#include "search/searchrun.h"

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
    const auto answer =
        QMessageBox::question(m_parent, QString::fromLatin1(kProductName), ConfirmMoveText(paths),
                              QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
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
