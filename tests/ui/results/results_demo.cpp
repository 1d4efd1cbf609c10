// Shows the results window filled with rows of every colour family, as a run with every
// criterion ticked would leave it; with --screenshot FILE it saves the screen and ends, and with
// --open menu, rowmenu, headermenu or rules the helpers' menu, a row's context menu, the
// header's menu or the keep rules are open in it; --width N gives the window that width (its
// least width for 1), --height N that height, --maximized maximises it; --tags shows the tag
// columns; --sort N sorts the groups by column N as a click on its header does.
#include "resultsfixture.h"
#include "ui/results/keeprulesdialog.h"
#include "ui/results/resultcolumns.h"
#include "ui/results/resultsactions.h"
#include "ui/results/resultsmodel.h"
#include "ui/results/resultswindow.h"

#include <QApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMenu>
#include <QScreen>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <cstdio>

using namespace tunesift;

namespace {

struct DemoGroup
{
    Criterion criterion;
    std::vector<std::string> paths;
};

void fillDemoRows(SearchSession& session)
{
    const std::string music = "/home/listener/Music/";
    const std::vector<DemoGroup> groups = {
        {Criterion::ExactFilename,
         {music + "Pop/Morning Light.mp3", music + "Incoming/Morning Light.mp3",
          // Longer than the column: shown shortened in the middle.
          music + "Incoming/Copied from the old laptop/Backup of 2009/Unsorted downloads/"
                  "Singles and B-sides/Morning Light.mp3"}},
        {Criterion::ExactFilename,
         {music + "Rock/Highway Song.mp3", music + "Backup/Rock/Highway Song.mp3",
          music + "Car/Highway Song.mp3"}},
        {Criterion::ExactFilesize,
         {music + "Jazz/Blue Hour (live).mp3", music + "Incoming/track07.mp3"}},
        {Criterion::ExactFilesize,
         {music + "Car/Highway Song.mp3", music + "Rock/Highway Song.mp3"}},
        {Criterion::SimilarFilename,
         {music + "Pop/Summer Rain - Radio Edit.mp3",
          music + "Incoming/Summer Rain Radio Edit.mp3"}},
        {Criterion::SimilarFilename,
         {music + "Folk/The Old Mill.mp3", music + "Folk/The Old Mill (2).mp3"}},
        {Criterion::ExactTag, {music + "Jazz/Blue Hour (live).mp3", music + "Jazz/bh_live.mp3"}},
        {Criterion::ExactTag,
         {music + "Classical/Nocturne No 2.mp3", music + "Incoming/Nocturne.mp3"}},
        {Criterion::SimilarTag,
         {music + "Pop/Summer Rain - Radio Edit.mp3", music + "Mixes/summer rain (edit).mp3"}},
        {Criterion::SimilarTag, {music + "Rock/Night Drive.mp3", music + "Car/Night Drive II.mp3"}},
        {Criterion::ExactAudio,
         {music + "Rock/Night Drive.mp3", music + "Incoming/04 - Unknown Artist - Track 4.mp3"}},
        {Criterion::ExactAudio,
         {music + "Jazz/Blue Hour (live).mp3",
          music + "Backup/Jazz/Blue Hour (live, retagged).mp3"}},
        {Criterion::SimilarAudio,
         {music + "Rock/Night Drive.mp3", music + "Phone/night_drive_128k.mp3"}},
        {Criterion::SimilarAudio,
         {music + "Folk/The Old Mill.mp3", music + "Incoming/Track 03 (old mill, VBR).mp3"}},
    };
    test::ResultsFixture fixture(session);
    // The run's first group takes the light shade; the shade alternates group by group.
    bool dark = false;
    for (const DemoGroup& group : groups) {
        for (const std::string& path : group.paths)
            fixture.addRow(path, ColorGroupOf(group.criterion, dark), group.criterion);
        dark = !dark;
    }
    fixture.addRow(music + "Unshaded/after a delete.mp3", ColorGroup::White);
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QString screenshot;
    const QStringList arguments = QCoreApplication::arguments();
    const qsizetype at = arguments.indexOf(QStringLiteral("--screenshot"));
    if (at >= 0 && at + 1 < arguments.size())
        screenshot = arguments[at + 1];
    const qsizetype openAt = arguments.indexOf(QStringLiteral("--open"));
    const QString open =
        openAt >= 0 && openAt + 1 < arguments.size() ? arguments[openAt + 1] : QString();

    SearchSession session;
    ResultsWindow form(session);
    form.beginResultsUpdate();
    fillDemoRows(session);
    form.endResultsUpdate();
    // A file found by two criteria: ticking one of its rows ticks the other as well.
    form.model().setData(form.model().index(5, 0), Qt::Checked, Qt::CheckStateRole);
    if (arguments.contains(QStringLiteral("--tags"))) {
        // Made-up tags for the made-up files.
        static std::vector<SongTags> tags;
        for (std::uint32_t file = 0; file < 40; ++file)
            tags.push_back({"Artist " + std::to_string(file % 7),
                            "Album " + std::to_string(file % 3),
                            "Song title number " + std::to_string(file)});
        form.model().setTagLookup(
            [](std::uint32_t file) { return file < tags.size() ? &tags[file] : nullptr; });
        for (const auto column : {ResultsModel::Column::Artist, ResultsModel::Column::Album,
                                  ResultsModel::Column::Title})
            form.columns().setShown(column, true);
    }
    if (const qsizetype sortAt = arguments.indexOf(QStringLiteral("--sort"));
        sortAt >= 0 && sortAt + 1 < arguments.size()) {
        const int column = arguments[sortAt + 1].toInt();
        form.listView().header()->setSortIndicator(
            column, form.model()
                        .headerData(column, Qt::Horizontal, Qt::InitialSortOrderRole)
                        .value<Qt::SortOrder>());
    }
    form.move(20, 20);
    if (const qsizetype widthAt = arguments.indexOf(QStringLiteral("--width"));
        widthAt >= 0 && widthAt + 1 < arguments.size())
        form.resize(arguments[widthAt + 1].toInt(), form.height());
    if (const qsizetype heightAt = arguments.indexOf(QStringLiteral("--height"));
        heightAt >= 0 && heightAt + 1 < arguments.size())
        form.resize(form.width(), arguments[heightAt + 1].toInt());
    if (arguments.contains(QStringLiteral("--maximized")))
        form.showMaximized();
    else
        form.show();
    if (open == QLatin1String("headermenu")) {
        QTimer::singleShot(500, &form, [&form] {
            QHeaderView* header = form.listView().header();
            form.columns().headerMenu()->popup(
                header->mapToGlobal(QPoint(header->sectionViewportPosition(2) + 10, 10)));
        });
    } else if (open == QLatin1String("menu")) {
        QTimer::singleShot(500, &form, [&form] {
            QToolButton* button = form.actions().menuButton();
            button->menu()->popup(button->mapToGlobal(button->rect().bottomLeft()));
        });
    } else if (open == QLatin1String("rules")) {
        QTimer::singleShot(500, &form, [&form] {
            auto* dialog = new KeepRulesDialog(&form);
            dialog->setAttribute(Qt::WA_DeleteOnClose);
            dialog->show();
        });
    } else if (open == QLatin1String("rowmenu")) {
        QTimer::singleShot(500, &form, [&form] {
            QTreeView& list = form.listView();
            const QModelIndex row = form.model().index(3, 0);
            list.selectionModel()->setCurrentIndex(row, QItemSelectionModel::ClearAndSelect |
                                                            QItemSelectionModel::Rows);
            form.actions().contextMenu()->popup(
                list.viewport()->mapToGlobal(list.visualRect(row).center()));
        });
    }

    if (!screenshot.isEmpty()) {
        QTimer::singleShot(1500, &form, [&form, screenshot] {
            QRect area = form.frameGeometry();
            if (const QWidget* popup = QApplication::activePopupWidget())
                area = area.united(popup->frameGeometry());
            if (const auto* dialog = form.findChild<KeepRulesDialog*>())
                area = area.united(dialog->frameGeometry());
            area.adjust(-10, -10, 10, 10);
            const QPixmap shot =
                form.screen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
            if (!shot.save(screenshot))
                std::fprintf(stderr, "could not write %s\n", qPrintable(screenshot));
            QCoreApplication::exit(shot.isNull() ? 1 : 0);
        });
    }
    return QApplication::exec();
}
