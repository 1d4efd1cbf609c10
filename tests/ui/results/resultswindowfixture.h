#pragma once

#include "mainfixture.h"
#include "platform/recyclingbin.h"
#include "resultsfixture.h"
#include "ui/results/resultsactions.h"
#include "ui/results/resultswindow.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <array>
#include <memory>

namespace tunesift::test {

// Stands in for the user and the trash: answers the question from a script, "moves" a file by
// deleting it unless told to refuse it, or hands it to the real trash.
class ScriptedRecycleBin : public RecycleBinHost
{
public:
    bool confirmMove(const QStringList& paths) override
    {
        questions.append(paths);
        return agree;
    }
    bool moveToTrash(const QString& path, QString* pathInTrash) override
    {
        moveRequests.append(path);
        if (useRealTrash)
            return RecycleBinHost::moveToTrash(path, pathInTrash);
        if (refuse.contains(path))
            return false;
        return onlyPretend || QFile::remove(path);
    }
    void reportFailures(const QStringList& paths) override { failureReports.append(paths); }

    bool agree = true;
    bool useRealTrash = false;
    bool onlyPretend = false; // "moves" files that were never made, without touching the disk
    QStringList refuse;
    QList<QStringList> questions;
    QStringList moveRequests;
    QList<QStringList> failureReports;
};

// Answers every question of the window's helpers with Yes, keeping the texts.
struct YesToAll : RecordingMessageBoxes
{
    YesToAll()
    {
        onShow = [](const Shown&) { return MessageAnswer::Yes; };
    }
};

// A small file in the folder that starts like an MPEG frame; its path.
inline QString makeFile(const QTemporaryDir& dir, const QString& name)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return {};
    file.write("\xFF\xFB\x90\x00 not much of a song", 24);
    return path;
}

inline QStringList listPaths(ResultsWindow& form)
{
    QStringList result;
    for (int row = 0; row < form.model().rowCount(); ++row)
        result.append(form.model().pathText(static_cast<std::size_t>(row)));
    return result;
}

// Files in a scratch folder, their rows in a session, and a results window over the rows whose
// trash and user are stand-ins (the boxes answer Yes to every question).
struct WindowScene
{
    // A folder below the home folder, where the real trash takes files from.
    enum class Folder
    {
        Scratch,
        BelowHome
    };
    explicit WindowScene(Folder folder = Folder::Scratch)
        : dir(folder == Folder::BelowHome ? QDir::homePath() + "/music-XXXXXX"
                                          : QDir::tempPath() + "/tunesift-XXXXXX")
    {}

    QString makeFile(const QString& name) { return test::makeFile(dir, name); }
    template <std::size_t N>
    std::array<QString, N> makeFiles(const char* const (&names)[N])
    {
        std::array<QString, N> paths;
        for (std::size_t k = 0; k < N; ++k)
            paths[k] = makeFile(QString::fromUtf8(names[k]));
        return paths;
    }
    std::size_t addRow(const QString& path, ColorGroup group = ColorGroup::LightBlue,
                       Criterion criterion = Criterion::ExactFilename)
    {
        return fixture.addRow(path.toStdString(), group, criterion);
    }
    // Made on first use, once the rows are there.
    ResultsWindow& window()
    {
        if (!m_window) {
            m_window = std::make_unique<ResultsWindow>(session);
            m_window->setRecycleBinHost(&bin);
            m_window->actions().setMessageBoxes(&boxes);
        }
        return *m_window;
    }

    QTemporaryDir dir;
    SearchSession session;
    ResultsFixture fixture{session};
    ScriptedRecycleBin bin;
    YesToAll boxes;

private:
    std::unique_ptr<ResultsWindow> m_window;
};

// The main() of a window test program: the trash lives below the data home, so it and every
// other file the tests write go to a scratch home rather than the user's.
template <class Test>
int RunWindowTests(int argc, char** argv)
{
    QTemporaryDir home;
    if (!home.isValid())
        return 1;
    qputenv("HOME", QFile::encodeName(home.path()));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.filePath("share")));
    QStandardPaths::setTestModeEnabled(true);
    QApplication app(argc, argv);
    Test test;
    return QTest::qExec(&test, argc, argv);
}

} // namespace tunesift::test
