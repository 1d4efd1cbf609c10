#include "search/searchrun.h"
#include "ui/main/mainwindow.h"
#include "ui/support/artwork.h"

#include <QApplication>
#include <QStringList>
#include <chrono>
#include <cstdlib>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tunesift"));
    QApplication::setOrganizationName(QStringLiteral("Quorvane"));
    QApplication::setApplicationVersion(QStringLiteral("7.0"));
    // Ties the windows to the installed menu entry (the desktop shell finds the icon through it).
    QApplication::setDesktopFileName(QStringLiteral("com.quorvane.tunesift"));
    tunesift::InitArtwork();
    QApplication::setWindowIcon(
        tunesift::SvgIcon(QString::fromLatin1(tunesift::artwork::kAppIcon)));
    // Closing either window ends the program; the results window is the last one open when the
    // main window is hidden behind it.
    QApplication::setQuitOnLastWindowClosed(true);

    tunesift::SearchSession session;
    tunesift::MainWindow mainWindow(session);
    mainWindow.addFolders(QApplication::arguments().mid(1));
    mainWindow.show();

    const int exitCode = QApplication::exec();

    // A search still running ends with the program. It is told to stop; if it is busy where it
    // does not look (reading titles, comparing pairs that do not match) the process ends without
    // it, once the settings are on disk.
    using namespace std::chrono_literals;
    if (!mainWindow.endRunForExit(2s)) {
        mainWindow.syncSettings();
        std::_Exit(exitCode);
    }
    return exitCode;
}
