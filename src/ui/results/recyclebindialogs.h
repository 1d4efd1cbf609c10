#pragma once

#include "keep/keepbest.h"
#include "platform/recyclingbin.h"

#include <memory>
#include <optional>

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

    // What the next confirmation says of the files (their bytes, and whether they are proven
    // copies); without it the question names only how many files go.
    void describeNextMove(const GoingFiles& going) { m_going = going; }

    bool confirmMove(const QStringList& paths) override;
    bool reportProgress(qsizetype done, qsizetype total) override;
    void reportFailures(const QStringList& paths) override;

private:
    QWidget* m_parent;
    std::optional<GoingFiles> m_going;
    std::unique_ptr<QProgressDialog> m_progress;
};

// The question before the move and the report after it, shared with the tests.
QString ConfirmMoveText(const QStringList& paths);
// "Move 14 files (1.6 MB) to the trash? 12 are copies of the same recording; 2 were matched only
// by name, size or title."
QString ConfirmMoveText(const QStringList& paths, const GoingFiles& going);
QString FailureReportText(const QStringList& paths);

} // namespace tunesift
