#pragma once

#include "platform/recyclingbin.h"

#include <memory>

class QProgressDialog;
class QWidget;

namespace tunesift {

// The trash's questions and reports as the user sees them: a confirmation naming how many files
// will go, a progress dialog when there are many, one message listing the files that stayed.
class RecycleBinDialogs : public RecycleBinHost
{
public:
    // From this many files on, the move shows its progress.
    static constexpr qsizetype kProgressFrom = 10;

    explicit RecycleBinDialogs(QWidget* parent);
    ~RecycleBinDialogs() override;

    bool confirmMove(const QStringList& paths) override;
    bool reportProgress(qsizetype done, qsizetype total) override;
    void reportFailures(const QStringList& paths) override;

private:
    QWidget* m_parent;
    std::unique_ptr<QProgressDialog> m_progress;
};

// The question before the move and the report after it, shared with the tests.
QString ConfirmMoveText(const QStringList& paths);
QString FailureReportText(const QStringList& paths);

} // namespace tunesift
