// The main window without searches: controls, layout rule, settings, picture buttons, the folder
// list's commands and the pointer.
#include "mainfixture.h"
#include "mp3/audioprint.h"
#include "platform/settings.h"
#include "search/searchrun.h"
#include "ui/main/folderlistview.h"
#include "ui/main/folderprotection.h"
#include "ui/main/mainwindow.h"
#include "ui/main/windowgeometry.h"
#include "ui/support/artwork.h"
#include "ui/support/picturebutton.h"
#include "ui/support/twips.h"

#include <QCheckBox>
#include <QDropEvent>
#include <QFileDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QMimeData>
#include <QMouseEvent>
#include <QProgressBar>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <memory>
#include <optional>

using namespace tunesift;
using namespace tunesift::test;

class TestMainWindow : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<SearchSession> m_session;
    std::unique_ptr<MainWindow> m_form;
    RecordingMessageBoxes m_boxes;

    MainWindow& makeForm()
    {
        m_form.reset();
        m_session = std::make_unique<SearchSession>();
        m_form = std::make_unique<MainWindow>(*m_session);
        m_form->setMessageBoxes(&m_boxes);
        return *m_form;
    }

    static void drop(MainWindow& form, QMimeData* data)
    {
        // A drop goes to the widget that accepted the drag's entry.
        QWidget* target = form.folderList->viewport();
        const Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction;
        QDragEnterEvent enter(QPoint(10, 10), actions, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        QVERIFY(enter.isAccepted());
        QCOMPARE(enter.dropAction(), Qt::CopyAction);
        QDropEvent event(QPointF(10, 10), actions, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &event);
        QCOMPARE(event.dropAction(), Qt::CopyAction);
    }

    // The layout rule works on the window's outer size, frame included, and holds for any size,
    // also below the window's minimum (a window manager may ignore it).
    static void resizeOuter(MainWindow& form, QSize outer)
    {
        form.setMinimumSize(0, 0);
        form.resize(outer - (form.frameGeometry().size() - form.size()));
        QCOMPARE(form.frameGeometry().size(), outer);
    }

    static void moveMouseTo(QWidget* widget, std::optional<QPoint> at = std::nullopt)
    {
        const QPoint local = at.value_or(widget->rect().center());
        QMouseEvent move(QEvent::MouseMove, QPointF(local), QPointF(widget->mapToGlobal(local)),
                         Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(widget, &move);
    }

private slots:
    void init()
    {
        UseEmptyTestSettings();
        m_boxes = RecordingMessageBoxes();
    }

    void cleanup() { m_form.reset(); }

    void controlsAtTheirDesignPlaces_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("twips");
        QTest::newRow("banner") << "banner" << QRect(-60, -60, 3645, 1380);
        QTest::newRow("add") << "addFolderButton" << QRect(3720, 120, 1695, 1095);
        QTest::newRow("find") << "findButton" << QRect(5520, 120, 1695, 1095);
        QTest::newRow("clear") << "clearListButton" << QRect(7320, 120, 1695, 1095);
        QTest::newRow("stop on find") << "stopButton" << QRect(5520, 120, 1695, 1095);
        QTest::newRow("exact filename") << "exactFilenameBox" << QRect(9080, 120, 1695, 255);
        QTest::newRow("exact filesize") << "exactFilesizeBox" << QRect(9080, 360, 1695, 255);
        QTest::newRow("similar filename") << "similarFilenameBox" << QRect(9080, 600, 1815, 255);
        QTest::newRow("exact tag") << "exactTagBox" << QRect(9080, 840, 1695, 255);
        QTest::newRow("similar tag") << "similarTagBox" << QRect(9080, 1080, 1695, 255);
        QTest::newRow("exact audio") << "exactAudioBox" << QRect(9080, 1320, 1695, 255);
        QTest::newRow("similar audio") << "similarAudioBox" << QRect(9080, 1560, 1695, 255);
    }

    void controlsAtTheirDesignPlaces()
    {
        QFETCH(QString, name);
        QFETCH(QRect, twips);
        MainWindow& form = makeForm();
        auto* widget = form.findChild<QWidget*>(name);
        QVERIFY(widget);
        const double dpi = LogicalDpi(&form);
        QCOMPARE(widget->geometry(),
                 TwipsRect(twips.x(), twips.y(), twips.width(), twips.height(), dpi));
    }

    void windowAsDesigned()
    {
        MainWindow& form = makeForm();
        QCOMPARE(form.windowTitle(), QStringLiteral("Tunesift 7.0"));
        QCOMPARE(form.size(), QSize(726, 416)); // 10890 by 6240 twips at 96 DPI
        QCOMPARE(form.palette().color(QPalette::Window), QColor(Qt::white));
        QVERIFY(!form.windowIcon().isNull());
        QVERIFY(form.findButton->isVisibleTo(&form));
        QVERIFY(!form.stopButton->isVisibleTo(&form));

        for (QWidget* widget :
             {static_cast<QWidget*>(form.exactFilenameBox),
              static_cast<QWidget*>(form.similarTagBox), static_cast<QWidget*>(form.folderFrame),
              static_cast<QWidget*>(form.folderList)}) {
            QCOMPARE(widget->font().family(), QStringLiteral("Arial"));
            QVERIFY(widget->font().bold());
            QCOMPARE(widget->font().pointSize(), 9);
        }
        QCOMPARE(form.similarFilenameBox->palette().color(QPalette::WindowText),
                 QColor(128, 128, 128));
        QCOMPARE(form.folderFrame->palette().color(QPalette::WindowText), QColor(128, 128, 128));
        QCOMPARE(form.folderFrame->title(), QStringLiteral("Folders to Find Duplicate MP3s In:"));
        QCOMPARE(form.similarFilenameBox->text(), QStringLiteral("Similar Filename"));

        QCOMPARE(form.folderList->parentWidget(), form.folderFrame);
        QCOMPARE(form.folderList->columnCount(), 1);
        QCOMPARE(form.folderList->headerItem()->text(0), QStringLiteral("Folder"));
        QCOMPARE(form.folderList->toolTip(),
                 QStringLiteral("Drag and drop folders or click 'Add Folder' button."));
        QCOMPARE(form.folderList->selectionMode(), QAbstractItemView::ExtendedSelection);
        QCOMPARE(form.folderList->iconSize(), QSize(32, 32));
        QCOMPARE(form.progressBar->minimum(), 0);
        QCOMPARE(form.progressBar->maximum(), 100);
        QCOMPARE(form.progressBar->value(), 0);
        QCOMPARE(form.folderList->topLevelItemCount(), 0);
    }

    void tabOrder()
    {
        MainWindow& form = makeForm();
        const QList<QWidget*> expected{
            form.addFolderButton,  form.findButton,         form.clearListButton,
            form.folderList,       form.stopButton,         form.exactFilenameBox,
            form.exactFilesizeBox, form.similarFilenameBox, form.exactTagBox,
            form.similarTagBox,    form.exactAudioBox,      form.similarAudioBox};
        QList<QWidget*> chain;
        QWidget* widget = form.addFolderButton;
        for (int guard = 0; guard < 100 && chain.size() < expected.size(); ++guard) {
            if (expected.contains(widget) && !chain.contains(widget))
                chain.append(widget);
            widget = widget->nextInFocusChain();
        }
        QCOMPARE(chain, expected);
    }

    // Figures of the layout rule for a window of 600 by 400 pixels (9000 by 6000 twips). The
    // line under the bar takes 300 twips from the list, the seventh criterion (where the build
    // has it) one row of 240.
    void layoutRuleOnResize()
    {
        MainWindow& form = makeForm();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        resizeOuter(form, QSize(600, 400));
        const WindowGeometry& layout = form.windowGeometry();
        const int row = AudioPrintsAvailable() ? 240 : 0;
        QCOMPARE(layout.listTwips().size(), QSize(8400, 2730 - row));
        QCOMPARE(layout.frameTwips().size(), QSize(8660, 3110 - row));
        QCOMPARE(layout.frameTwips().top(), 1590 + row); // below the last criterion
        const auto bottomOf = [&](QWidget* box) {
            return PixelsToTwips(box->geometry().bottom() + 1, LogicalDpi(&form));
        };
        QVERIFY(bottomOf(form.exactAudioBox) <= layout.frameTwips().top());
        QVERIFY(bottomOf(form.similarAudioBox) <= layout.frameTwips().top());
        QCOMPARE(layout.progressTwips().left(), layout.frameTwips().left());
        QCOMPARE(layout.progressTwips().width(), 8660);
        QCOMPARE(layout.progressTwips().top(), 4780);
        QCOMPARE(layout.progressTextTwips(), QRect(120, 5185, 8660, 270));

        QCOMPARE(form.folderList->size(), QSize(560, 182 - row / 15));
        QCOMPARE(form.folderFrame->size(), QSize(577, 207 - row / 15));
        QCOMPARE(form.progressBar->geometry(), QRect(8, 319, 577, 25));
        QCOMPARE(form.progressText->geometry(), QRect(8, 346, 577, 18));
        QVERIFY(form.progressText->geometry().bottom() < form.height());

        QCOMPARE(StoredText(settingskeys::kFormWidth), QStringLiteral("9000"));
        QCOMPARE(StoredText(settingskeys::kFormHeight), QStringLiteral("6000"));
        QCOMPARE(StoredText(settingskeys::kWindowState), QStringLiteral("0"));
    }

    void tinyWindowSkipsOnlyTheNegativeSteps()
    {
        MainWindow& form = makeForm();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        resizeOuter(form, QSize(600, 400));
        resizeOuter(form, QSize(30, 150)); // 450 by 2250 twips: both list sizes would be negative
        const int row = AudioPrintsAvailable() ? 240 : 0; // the seventh criterion
        QCOMPARE(form.windowGeometry().listTwips().size(), QSize(8400, 2730 - row));
        QCOMPARE(form.windowGeometry().frameTwips().size(), QSize(8660, 3110 - row));
        QCOMPARE(form.windowGeometry().progressTwips().top(), 2250 - 1220);
        QCOMPARE(StoredText(settingskeys::kFormWidth), QStringLiteral("450"));
        QCOMPARE(StoredText(settingskeys::kFormHeight), QStringLiteral("2250"));

        resizeOuter(form,
                    QSize(200, 150)); // the width step applies again, the height step still not
        QCOMPARE(form.windowGeometry().listTwips().size(), QSize(2400, 2730 - row));
    }

    void folderColumnKeepsItsStartWidth()
    {
        MainWindow& form = makeForm();
        const double dpi = LogicalDpi(&form);
        const int atStart = form.folderList->columnWidth(0);
        QCOMPARE(atStart,
                 TwipsToPixels(form.windowGeometry().listTwips().width() * 0.875 - 100, dpi));
        form.resize(900, 500);
        QCOMPARE(form.folderList->columnWidth(0), atStart);
    }

    void geometryAndCriteriaRestored()
    {
        StoreText(settingskeys::kFormWidth, QStringLiteral("12000"));
        StoreText(settingskeys::kFormHeight, QStringLiteral("7500"));
        StoreText(settingskeys::kWindowState, QStringLiteral("0"));
        StoreText(settingskeys::kSimilarTag, QStringLiteral("1"));
        StoreText(settingskeys::kExactFilesize, QStringLiteral("1"));
        MainWindow& form = makeForm();
        QCOMPARE(form.size(), QSize(800, 500));
        QCOMPARE(form.windowState(), Qt::WindowNoState);
        QVERIFY(form.similarTagBox->isChecked());
        QVERIFY(form.exactFilesizeBox->isChecked());
        QVERIFY(!form.exactFilenameBox->isChecked());
        QVERIFY(!form.similarFilenameBox->isChecked());
        QVERIFY(!form.exactTagBox->isChecked());
        QCOMPARE(form.windowGeometry().listTwips().size(),
                 QSize(11400, 4230 - (AudioPrintsAvailable() ? 240 : 0)));

        // Once shown with a frame the stored size is the outer size, so it does not grow from
        // one start to the next.
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QTRY_COMPARE(form.frameGeometry().size(), QSize(800, 500));
        QCOMPARE(StoredText(settingskeys::kFormWidth), QStringLiteral("12000"));
        QCOMPARE(StoredText(settingskeys::kFormHeight), QStringLiteral("7500"));

        // Maximised, the state is stored with the size of the normal window.
        form.showMaximized();
        QTRY_COMPARE(StoredText(settingskeys::kWindowState), QStringLiteral("2"));
        QTRY_VERIFY(form.frameGeometry().size() != QSize(800, 500));
        QCOMPARE(StoredText(settingskeys::kFormWidth), QStringLiteral("12000"));
        QCOMPARE(StoredText(settingskeys::kFormHeight), QStringLiteral("7500"));
        form.showNormal();
        QTRY_COMPARE(form.frameGeometry().size(), QSize(800, 500));
        QCOMPARE(StoredText(settingskeys::kWindowState), QStringLiteral("0"));
    }

    // A stored size beyond the screen, and a window made as small as it goes.
    void windowStaysWholeAndUsable()
    {
        StoreText(settingskeys::kFormWidth, QStringLiteral("30000"));
        StoreText(settingskeys::kFormHeight, QStringLiteral("30000"));
        MainWindow& form = makeForm();
        form.addFolders({QStringLiteral("/music")});
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        const QRect screenArea = form.screen()->availableGeometry();
        QTRY_VERIFY2(screenArea.contains(form.frameGeometry()),
                     qPrintable(QStringLiteral("%1,%2 %3x%4")
                                    .arg(form.frameGeometry().x())
                                    .arg(form.frameGeometry().y())
                                    .arg(form.frameGeometry().width())
                                    .arg(form.frameGeometry().height())));

        form.resize(1, 1);
        QCOMPARE(form.size(), form.minimumSize());
        for (QWidget* control :
             form.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
            // The banner starts above and left of the window by design; every control ends
            // inside it.
            if (control->isVisibleTo(&form))
                QVERIFY2(control->geometry().right() <= form.rect().right() &&
                             control->geometry().bottom() <= form.rect().bottom(),
                         qPrintable(control->objectName()));
        }
        QVERIFY(form.folderFrame->rect().contains(form.folderList->geometry()));
        QVERIFY(form.progressBar->geometry().top() > form.folderFrame->geometry().bottom());
        // Room for the header and two folders.
        const QRect firstRow = form.folderList->visualItemRect(form.folderList->topLevelItem(0));
        QVERIFY(firstRow.height() >= 32);
        QVERIFY(form.folderList->viewport()->height() >= 2 * firstRow.height());
    }

    void tickingWritesTheBoxState()
    {
        MainWindow& form = makeForm();
        form.show();
        QTest::mouseClick(form.similarTagBox, Qt::LeftButton);
        QCOMPARE(StoredText(settingskeys::kSimilarTag), QStringLiteral("1"));
        makeForm();
        QVERIFY(m_form->similarTagBox->isChecked());
        m_form->similarTagBox->setChecked(false);
        QCOMPARE(StoredText(settingskeys::kSimilarTag), QStringLiteral("0"));
        QVERIFY(StoredText(settingskeys::kExactTag).isNull()); // untouched boxes write nothing
        QTest::mouseClick(m_form->exactAudioBox, Qt::LeftButton);
        QCOMPARE(StoredText(settingskeys::kExactAudio), QStringLiteral("1"));
        makeForm();
        QVERIFY(m_form->exactAudioBox->isChecked());
        QCOMPARE(m_form->similarAudioBox->isVisibleTo(m_form.get()), AudioPrintsAvailable());
        if (AudioPrintsAvailable()) {
            QTest::mouseClick(m_form->similarAudioBox, Qt::LeftButton);
            QCOMPARE(StoredText(settingskeys::kSimilarAudio), QStringLiteral("1"));
            makeForm();
            QVERIFY(m_form->similarAudioBox->isChecked());
        }
    }

    void storedStateRestored_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("state");
        QTest::newRow("normal") << "0" << int(Qt::WindowNoState);
        QTest::newRow("minimised opens normal") << "1" << int(Qt::WindowNoState);
        QTest::newRow("maximised") << "2" << int(Qt::WindowMaximized);
    }

    void storedStateRestored()
    {
        QFETCH(QString, stored);
        QFETCH(int, state);
        StoreText(settingskeys::kWindowState, stored);
        StoreText(settingskeys::kFormWidth, QStringLiteral("12000"));
        StoreText(settingskeys::kFormHeight, QStringLiteral("7500"));
        MainWindow& form = makeForm();
        QCOMPARE(int(form.windowState()), state);
        // The size of the normal window stays stored, in any state.
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QCOMPARE(StoredText(settingskeys::kFormWidth), QStringLiteral("12000"));
        QCOMPARE(StoredText(settingskeys::kFormHeight), QStringLiteral("7500"));
        form.showNormal();
        QTRY_COMPARE(form.frameGeometry().size(), QSize(800, 500));
    }

    void badStoredValuesGiveTheDesign_data()
    {
        QTest::addColumn<QString>("size");
        QTest::addColumn<QString>("state");
        QTest::newRow("text") << "wide"
                              << "tall";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("beyond 16 bits") << "40000"
                                        << "65537";
        QTest::newRow("negative") << "-1200"
                                  << "-1";
        QTest::newRow("zero size, unknown state") << "0"
                                                  << "7";
        QTest::newRow("fractions") << "1.5"
                                   << "1.5";
        QTest::newRow("grey tick") << "0"
                                   << "2"; // a criterion box has no third state here
    }

    void badStoredValuesGiveTheDesign()
    {
        QFETCH(QString, size);
        QFETCH(QString, state);
        StoreText(settingskeys::kFormWidth, size);
        StoreText(settingskeys::kFormHeight, size);
        for (const char* key :
             {settingskeys::kExactFilename, settingskeys::kExactFilesize,
              settingskeys::kSimilarFilename, settingskeys::kExactTag, settingskeys::kSimilarTag,
              settingskeys::kExactAudio, settingskeys::kSimilarAudio})
            StoreText(key, state);
        StoreText(settingskeys::kWindowState, state == QLatin1String("2") ? "9" : state);
        MainWindow& form = makeForm();
        QCOMPARE(form.size(), QSize(726, 416));
        QCOMPARE(form.windowState(), Qt::WindowNoState);
        for (QCheckBox* box :
             {form.exactFilenameBox, form.exactFilesizeBox, form.similarFilenameBox,
              form.exactTagBox, form.similarTagBox, form.exactAudioBox, form.similarAudioBox})
            QVERIFY(!box->isChecked());
        QCOMPARE(StoredText(settingskeys::kFormWidth), QStringLiteral("10890"));
        QCOMPARE(StoredText(settingskeys::kWindowState), QStringLiteral("0"));
    }

    void stopButtonWritesTrue()
    {
        StoreText(settingskeys::kStop, QStringLiteral("False"));
        MainWindow& form = makeForm();
        form.show();
        form.stopButton->show();
        QTest::mouseClick(form.stopButton, Qt::LeftButton);
        QCOMPARE(StoredText(settingskeys::kStop), QStringLiteral("True"));
    }

    // One press runs the command once, and the button comes back up.
    void pictureButtonsActOncePerPress()
    {
        MainWindow& form = makeForm();
        form.show();
        int asked = 0;
        QString prompt;
        QStringList startedAt;
        form.setFolderBrowser([&](QWidget* owner, const QString& text, const QString& start) {
            ++asked;
            prompt = text;
            startedAt.append(start);
            return owner == &form ? QStringList{"/music/rock/"} : QStringList{};
        });
        QTest::mouseClick(form.addFolderButton, Qt::LeftButton);
        QCOMPARE(asked, 1);
        QCOMPARE(prompt, QStringLiteral("Please select folder to add:"));
        QCOMPARE(form.folderEntries(), QStringList{QStringLiteral("/music/rock")});
        QVERIFY(!form.folderList->topLevelItem(0)->icon(0).isNull());

        form.addFolderButton->setFocus();
        QTest::keyClick(form.addFolderButton, Qt::Key_Space);
        QCOMPARE(asked, 2);
        QCOMPARE(form.folderEntries().size(), 2); // the same folder twice is two entries
        // The dialog opens at the folder added last, also after a restart.
        QCOMPARE(startedAt, (QStringList{QString(), "/music/rock"}));
        makeForm().setFolderBrowser([&](QWidget*, const QString&, const QString& start) {
            startedAt.append(start);
            return QStringList{};
        });
        m_form->addFolderButton->click();
        QCOMPARE(startedAt.last(), QStringLiteral("/music/rock"));
        MainWindow& again = *m_form;
        again.show();

        for (PictureButton* button :
             {again.findButton, again.addFolderButton, again.clearListButton, again.stopButton}) {
            QVERIFY(!button->isDown());
            QVERIFY(!button->isChecked());
        }

        QTest::mouseClick(again.clearListButton, Qt::LeftButton);
        QVERIFY(again.folderEntries().isEmpty());
        QVERIFY(!again.clearListButton->isDown());
        QCOMPARE(again.folderList->headerItem()->text(0), QStringLiteral("Folder"));
    }

    void addFolderDialogResults_data()
    {
        QTest::addColumn<QStringList>("chosen");
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QString>("lastAdded");
        QTest::newRow("cancelled") << QStringList{} << QStringList{} << QString();
        QTest::newRow("plain") << QStringList{"/music"} << QStringList{"/music"} << "/music";
        QTest::newRow("trailing separator")
            << QStringList{"/music/"} << QStringList{"/music"} << "/music";
        QTest::newRow("root stays root") << QStringList{"/"} << QStringList{"/"} << "/";
        QTest::newRow("several in one go, in the dialog's order")
            << QStringList{"/pop/", "/jazz", "/classical"}
            << QStringList{"/pop", "/jazz", "/classical"} << "/classical";
    }

    void addFolderDialogResults()
    {
        QFETCH(QStringList, chosen);
        QFETCH(QStringList, entries);
        QFETCH(QString, lastAdded);
        MainWindow& form = makeForm();
        form.setFolderBrowser([&](QWidget*, const QString&, const QString&) { return chosen; });
        form.addFolderButton->click();
        QCOMPARE(form.folderEntries(), entries);
        QCOMPARE(StoredText(settingskeys::kLastAddedFolder), lastAdded);
        QVERIFY(m_boxes.shown.isEmpty());
    }

    // The real dialog: folders only, several at once, at the last folder added or the nearest
    // folder above it that still exists.
    void folderDialogTakesSeveralFolders()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("rock/live")));
        MainWindow& form = makeForm();
        const auto opensAt = [&](const QString& start) {
            std::unique_ptr<QFileDialog> dialog(
                makeFolderDialog(&form, QStringLiteral("Please select folder to add:"), start));
            [&] {
                QCOMPARE(dialog->fileMode(), QFileDialog::Directory);
                QCOMPARE(dialog->windowTitle(), QStringLiteral("Please select folder to add:"));
                for (const char* name : {"listView", "treeView"}) { // list and detail view
                    auto* view = dialog->findChild<QAbstractItemView*>(QLatin1String(name));
                    QVERIFY(view);
                    QCOMPARE(view->selectionMode(), QAbstractItemView::ExtendedSelection);
                }
            }();
            return QDir(dialog->directory()).canonicalPath();
        };
        const QString rock = QDir(dir.path() + "/rock").canonicalPath();
        QCOMPARE(opensAt(dir.path() + "/rock"), rock);
        QCOMPARE(opensAt(dir.path() + "/rock/gone/deeper"), rock);
        QCOMPARE(opensAt(QString()), QDir::home().canonicalPath());
    }

    // The folder list is stored at every change and comes back at the next start, with the
    // protected marks; folders named on the command line that are listed already are not
    // listed again.
    void folderListStaysAcrossStarts()
    {
        QTemporaryDir dir;
        const QString a = dir.path() + "/a", b = dir.path() + "/b", c = dir.path() + "/c";
        for (const QString& folder : {a, b, c})
            QVERIFY(QDir().mkpath(folder));
        MainWindow& form = makeForm();
        form.addFolders({a, b, "/x", c});
        form.folderList->topLevelItem(1)->setSelected(true);
        QTest::keyClick(form.folderList, Qt::Key_P, Qt::ControlModifier); // protect b
        form.folderList->clearSelection();
        form.folderList->topLevelItem(2)->setSelected(true);
        QTest::keyClick(form.folderList, Qt::Key_Delete);
        QCOMPARE(SettingsStore().textList(settingskeys::kFolders), (QStringList{a, b, c}));

        MainWindow& next = makeForm();
        QCOMPARE(next.folderEntries(), (QStringList{a, b, c}));
        for (int k = 0; k < 3; ++k)
            QCOMPARE(next.folderProtection->isProtected(next.folderList->topLevelItem(k)), k == 1);
        next.addFolders({c, dir.path() + "/d", dir.path() + "/d"});
        QCOMPARE(next.folderEntries(), (QStringList{a, b, c, dir.path() + "/d"}));

        QTest::mouseClick(next.clearListButton, Qt::LeftButton);
        QVERIFY(SettingsStore().textList(settingskeys::kFolders).isEmpty());
        QVERIFY(makeForm().folderEntries().isEmpty());
    }

    void missingFoldersShowGreyed()
    {
        QTemporaryDir dir;
        const QString here = dir.path() + "/here", gone = dir.path() + "/gone";
        QVERIFY(QDir().mkpath(here));
        SettingsStore().setTextList(settingskeys::kFolders, {here, gone});
        MainWindow& form = makeForm();
        const auto missing = [&](int k) {
            const QTreeWidgetItem* item = form.folderList->topLevelItem(k);
            const bool marked = item->data(0, FolderProtection::kMissingRole).toBool();
            const bool grey = item->data(0, Qt::ForegroundRole).isValid();
            const bool tip = item->toolTip(0).contains(QStringLiteral("does not exist"));
            [&] {
                QCOMPARE(grey, marked);
                QCOMPARE(tip, marked);
            }();
            return marked;
        };
        QCOMPARE(form.folderEntries(), (QStringList{here, gone}));
        QVERIFY(!missing(0));
        QVERIFY(missing(1));
        // Looked at again when the window is activated or a search starts.
        QVERIFY(QDir().mkpath(gone));
        QVERIFY(QDir(here).removeRecursively());
        form.refreshFolderEntries();
        QVERIFY(missing(0));
        QVERIFY(!missing(1));
    }

    void dropsOfFoldersAndFiles()
    {
        QTemporaryDir dir;
        const QString base = dir.path();
        for (const char* sub : {"one", "two", "three"})
            QVERIFY(QDir(base).mkpath(QString::fromLatin1(sub)));
        WriteMp3(base + QStringLiteral("/two/song.mp3"));

        MainWindow& form = makeForm();
        QMimeData folders;
        folders.setUrls({QUrl::fromLocalFile(base + "/three"), QUrl::fromLocalFile(base + "/one"),
                         QUrl::fromLocalFile(base + "/two/")});
        drop(form, &folders);
        QCOMPARE(form.folderEntries(),
                 (QStringList{base + "/three", base + "/one", base + "/two/"}));

        QMimeData files;
        files.setUrls({QUrl::fromLocalFile(base + "/two/song.mp3"),
                       QUrl::fromLocalFile(QStringLiteral("/not-a-folder.mp3"))});
        drop(form, &files);
        QCOMPARE(form.folderEntries().mid(3), (QStringList{base + "/two", QStringLiteral("/")}));
        QVERIFY(m_boxes.shown.isEmpty());
    }

    void dropsWithoutLocalFilesComplain()
    {
        QTemporaryDir dir;
        MainWindow& form = makeForm();
        QMimeData mixed;
        mixed.setUrls({QUrl::fromLocalFile(dir.path()),
                       QUrl(QStringLiteral("https://example.org/a")),
                       QUrl::fromLocalFile(dir.path())});
        drop(form, &mixed);
        QCOMPARE(form.folderEntries(), QStringList{dir.path()}); // items before the failure stay

        QMimeData text;
        text.setText(QStringLiteral("My Documents"));
        drop(form, &text);
        QCOMPARE(form.folderEntries().size(), 1);

        QCOMPARE(m_boxes.shown.size(), 2);
        for (const RecordingMessageBoxes::Shown& box : m_boxes.shown) {
            QCOMPARE(box.title, QStringLiteral("Error"));
            QCOMPARE(box.buttons, MessageButtons::Ok);
            // The example folder is one of the platform the program runs on.
            const QString start = QStringLiteral(
                "You can not drag and drop virtual folders like My Documents. Instead browse to ");
            const QString end =
                QStringLiteral(", for example, or drag and drop subfolders within My Documents");
            QVERIFY2(box.text.startsWith(start) && box.text.endsWith(end), qPrintable(box.text));
            const QString example = box.text.mid(start.size()).chopped(end.size());
            QVERIFY2(QDir::isAbsolutePath(example), qPrintable(example));
            QCOMPARE(QDir::toNativeSeparators(example), example);
        }
    }

    void deleteAndSelectAllKeys()
    {
        MainWindow& form = makeForm();
        form.addFolders({"/e1", "/e2", "/e3", "/e4", "/e5"});
        form.folderList->topLevelItem(1)->setSelected(true);
        form.folderList->topLevelItem(3)->setSelected(true);
        QTest::keyClick(form.folderList, Qt::Key_Delete, Qt::ShiftModifier);
        QCOMPARE(form.folderEntries(), (QStringList{"/e1", "/e3", "/e5"}));

        QTest::keyClick(form.folderList, Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier);
        QVERIFY(form.folderList->selectedItems().isEmpty());
        QTest::keyClick(form.folderList, Qt::Key_A, Qt::ControlModifier | Qt::AltModifier);
        QVERIFY(form.folderList->selectedItems().isEmpty());
        QTest::keyClick(form.folderList, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(form.folderList->selectedItems().size(), 3);
        QTest::keyClick(form.folderList, Qt::Key_Delete);
        QVERIFY(form.folderEntries().isEmpty());
    }

    void protectedFoldersAreMarkedInTheList()
    {
        MainWindow& form = makeForm();
        form.addFolders({"/music", "/music/live", "/musicals"});
        QTreeWidget* list = form.folderList;
        const QIcon plain = list->topLevelItem(2)->icon(0);
        list->topLevelItem(0)->setSelected(true);
        QTest::keyClick(list, Qt::Key_P, Qt::ControlModifier);
        QCOMPARE(SettingsStore().textList(settingskeys::kProtectedFolders), QStringList{"/music"});
        // A folder inside a protected one is protected too; a name that merely starts alike is not.
        const std::vector<bool> expected{true, true, false};
        for (int k = 0; k < 3; ++k) {
            QCOMPARE(form.folderProtection->isProtected(list->topLevelItem(k)), expected[k]);
            QCOMPARE(list->topLevelItem(k)->icon(0).cacheKey() != plain.cacheKey(), expected[k]);
        }
        // The entries' text, which the search reads, stays as it was.
        QCOMPARE(form.folderEntries(), (QStringList{"/music", "/music/live", "/musicals"}));
        // All selected entries protected: the same command unprotects them.
        QTest::keyClick(list, Qt::Key_P, Qt::ControlModifier);
        QVERIFY(SettingsStore().textList(settingskeys::kProtectedFolders).isEmpty());
        QVERIFY(!form.folderProtection->isProtected(list->topLevelItem(1)));
    }

    void commandLineFoldersAreListed()
    {
        MainWindow& form = makeForm();
        form.addFolders({"/music/", "/", QDir::currentPath() + "/x/../y"});
        QCOMPARE(form.folderEntries(), (QStringList{"/music", "/", QDir::currentPath() + "/y"}));
    }

    void pointerFollowsTheControls()
    {
        MainWindow& form = makeForm();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        moveMouseTo(form.exactFilenameBox);
        QCOMPARE(form.cursor().shape(), Qt::PointingHandCursor);
        moveMouseTo(form.progressBar); // no rule of its own: the pointer stays
        QCOMPARE(form.cursor().shape(), Qt::PointingHandCursor);
        moveMouseTo(form.folderFrame, QPoint(3, 5)); // on the frame, beside the list
        QCOMPARE(form.cursor().shape(), Qt::ArrowCursor);
        moveMouseTo(form.folderList->viewport());
        QCOMPARE(form.cursor().shape(), Qt::PointingHandCursor);
        moveMouseTo(form.banner);
        QCOMPARE(form.cursor().shape(), Qt::ArrowCursor);
    }
};

QTEST_MAIN(TestMainWindow)
#include "test_mainwindow.moc"
