#include "ui/main/mainwindow.h"

#include "mp3/audioprint.h"
#include "mp3/id3v2title.h"
#include "search/searchrun.h"
#include "ui/main/folderlistview.h"
#include "ui/main/folderpaths.h"
#include "ui/main/folderprotection.h"
#include "ui/main/searchrunner.h"
#include "ui/main/windowgeometry.h"
#include "ui/results/resultswindow.h"
#include "ui/support/artwork.h"
#include "ui/support/cursorfile.h"
#include "ui/support/picturebutton.h"
#include "ui/support/twips.h"
#include "ui/support/windowplacement.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QMouseEvent>
#include <QProgressBar>
#include <QTimer>
#include <QTreeWidgetItem>

namespace tunesift {

namespace {

const QColor kCaptionGrey(128, 128, 128);
constexpr int kWorkLineInterval = 250; // ms between changes of the line under the bar

// A folder of the running platform that the user can browse to in place of a virtual one.
#if defined(Q_OS_WIN)
const char kDropExampleFolder[] = "C:\\Documents and Settings\\Your Name\\My Documents";
#elif defined(Q_OS_MACOS)
const char kDropExampleFolder[] = "/Users/yourname/Documents";
#else
const char kDropExampleFolder[] = "/home/yourname/Documents";
#endif

QString dropErrorText()
{
    return QStringLiteral("You can not drag and drop virtual folders like My Documents. Instead "
                          "browse to %1, for example, or drag and drop subfolders within My "
                          "Documents")
        .arg(QString::fromLatin1(kDropExampleFolder));
}

QFont controlFont()
{
    QFont font(QStringLiteral("Arial"), 9, QFont::Bold);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

void setGreyText(QWidget* widget)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, kCaptionGrey);
    palette.setColor(QPalette::Text, kCaptionGrey);
    palette.setColor(QPalette::Window, Qt::white);
    palette.setColor(QPalette::Base, Qt::white);
    widget->setPalette(palette);
}

// The folder itself where it still exists, else the nearest folder above it that does, else the
// home folder.
QString existingFolderAtOrAbove(const QString& folder)
{
    if (folder.isEmpty())
        return QDir::homePath();
    QString path = QDir::cleanPath(QDir(folder).absolutePath());
    while (!QFileInfo(path).isDir()) {
        const QString above = QFileInfo(path).absolutePath();
        if (above == path)
            return QDir::homePath();
        path = above;
    }
    return path;
}

} // namespace

QFileDialog* makeFolderDialog(QWidget* owner, const QString& prompt, const QString& startFolder)
{
    auto* dialog = new QFileDialog(owner, prompt, existingFolderAtOrAbove(startFolder));
    dialog->setObjectName(QStringLiteral("folderDialog"));
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    // The platforms' own folder dialogs take one folder at a time; Qt's takes several.
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    // Its list and detail views, by the names Qt gives them (not the side bar of places).
    for (const char* name : {"listView", "treeView"})
        if (auto* view = dialog->findChild<QAbstractItemView*>(QLatin1String(name)))
            view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    return dialog;
}

QStringList browseForFolders(QWidget* owner, const QString& prompt, const QString& startFolder)
{
    std::unique_ptr<QFileDialog> dialog(makeFolderDialog(owner, prompt, startFolder));
    if (dialog->exec() != QDialog::Accepted)
        return {};
    return dialog->selectedFiles();
}

MainWindow::MainWindow(SearchSession& session, QWidget* parent)
    : QWidget(parent), m_session(session)
{
    InitArtwork();
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(QStringLiteral("Tunesift 7.0"));
    setWindowIcon(SvgIcon(QString::fromLatin1(artwork::kAppIcon)));

    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Qt::white);
    setPalette(palette);
    setAutoFillBackground(true);

    createControls();
    m_geometry =
        new WindowGeometry(this, m_settings, {folderFrame, folderList, progressBar, progressText});
    connect(m_geometry, &WindowGeometry::laidOut, this, &MainWindow::placeBesideFrameTitle);
    placeBesideFrameTitle();
    m_runner = std::make_unique<SearchRunner>(m_session, this, static_cast<RunDisplay*>(this));
    connect(m_runner.get(), &SearchRunner::finished, this, &MainWindow::onRunFinished);
    connectControls();
    setTabOrderOfControls();
    watchPointer();
    // Small enough to leave room beside the window, large enough that every control stays whole.
    setMinimumSize(
        RightEdgeOfControls({banner, addFolderButton, findButton, clearListButton, exactFilenameBox,
                             exactFilesizeBox, similarFilenameBox, exactTagBox, similarTagBox,
                             exactAudioBox, similarAudioBox}),
        m_geometry->minimumClientHeight());

    load();
}

MainWindow::~MainWindow()
{
    // The list empties as it goes; that is no change the user made.
    disconnect(folderList->model(), nullptr, this, nullptr);
    // The run ends before the results window it fills goes.
    m_runner.reset();
    if (m_resultsUpdating)
        m_resultsWindow->endResultsUpdate();
}

void MainWindow::createControls()
{
    const double dpi = LogicalDpi(this);
    const QFont font = controlFont();

    banner = new SvgPicture(QString::fromLatin1(artwork::kBanner), this);
    banner->setObjectName(QStringLiteral("banner"));
    banner->setGeometry(TwipsRect(-60, -60, 3645, 1380, dpi));

    const auto makeButton = [&](const char* name, const char* picture, const QString& label,
                                QRect twips) {
        auto* button = new PictureButton(QString::fromLatin1(picture), label, this);
        button->setObjectName(QString::fromLatin1(name));
        button->setGeometry(TwipsRect(twips.x(), twips.y(), twips.width(), twips.height(), dpi));
        return button;
    };
    addFolderButton = makeButton("addFolderButton", artwork::kAddFolder,
                                 QStringLiteral("Add Folder"), QRect(3720, 120, 1695, 1095));
    findButton = makeButton("findButton", artwork::kFindDupes, QStringLiteral("Find Dupes"),
                            QRect(5520, 120, 1695, 1095));
    clearListButton = makeButton("clearListButton", artwork::kClearList,
                                 QStringLiteral("Clear List"), QRect(7320, 120, 1695, 1095));
    // load() puts it on findButton's place.
    stopButton = makeButton("stopButton", artwork::kStopFind, QStringLiteral("Stop Find"),
                            QRect(0, 0, 1695, 1095));
    stopButton->hide();

    const auto makeCriterion = [&](const char* name, const QString& text, QRect twips) {
        auto* box = new QCheckBox(text, this);
        box->setObjectName(QString::fromLatin1(name));
        box->setFont(font);
        setGreyText(box);
        box->setGeometry(TwipsRect(twips.x(), twips.y(), twips.width(), twips.height(), dpi));
        return box;
    };
    exactFilenameBox = makeCriterion("exactFilenameBox", QStringLiteral("Exact Filename"),
                                     QRect(9080, 120, 1695, 255));
    exactFilesizeBox = makeCriterion("exactFilesizeBox", QStringLiteral("Exact Filesize"),
                                     QRect(9080, 360, 1695, 255));
    similarFilenameBox = makeCriterion("similarFilenameBox", QStringLiteral("Similar Filename"),
                                       QRect(9080, 600, 1815, 255));
    exactTagBox =
        makeCriterion("exactTagBox", QStringLiteral("Exact Tag"), QRect(9080, 840, 1695, 255));
    similarTagBox =
        makeCriterion("similarTagBox", QStringLiteral("Similar Tag"), QRect(9080, 1080, 1695, 255));
    exactAudioBox =
        makeCriterion("exactAudioBox", QStringLiteral("Exact Audio"), QRect(9080, 1320, 1695, 255));
    similarAudioBox = makeCriterion("similarAudioBox", QStringLiteral("Similar Audio"),
                                    QRect(9080, 1560, 1695, 255));
    similarAudioBox->setToolTip(QStringLiteral("The same recording in any encoding: the sound of "
                                               "the first two minutes is compared."));
    similarAudioBox->setVisible(AudioPrintsAvailable());
    id3v2TitlesBox = makeCriterion("id3v2TitlesBox", QStringLiteral("Read ID3v2 titles"),
                                   QRect(0, 0, 1935, 255));
    id3v2TitlesBox->setToolTip(QStringLiteral("Exact Tag and Similar Tag compare the title of a "
                                              "file's ID3v2 tag where it has one."));
    id3v2TitlesBox->setVisible(ID3v2TitlesAvailable());

    folderFrame = new QGroupBox(QStringLiteral("Folders to Find Duplicate MP3s In:"), this);
    folderFrame->setObjectName(QStringLiteral("folderFrame"));
    folderFrame->setFont(font);
    setGreyText(folderFrame);

    folderIcons.append(SvgIcon(QString::fromLatin1(artwork::kFolderOpen)));

    folderList = new FolderListView(folderFrame);
    folderList->setObjectName(QStringLiteral("folderList"));
    folderList->setFont(font);
    QPalette listPalette = folderList->palette();
    listPalette.setColor(QPalette::Text, Qt::black);
    listPalette.setColor(QPalette::WindowText, Qt::black);
    listPalette.setColor(QPalette::Base, Qt::white);
    folderList->setPalette(listPalette);
    folderList->setIconSize(QSize(32, 32));
    const QString tip = QStringLiteral("Drag and drop folders or click 'Add Folder' button.");
    folderList->setToolTip(tip);
    folderList->viewport()->setToolTip(tip);

    progressBar = new QProgressBar(this);
    progressBar->setObjectName(QStringLiteral("progressBar"));
    progressBar->setRange(0, 100);
    progressBar->setValue(0);
    progressBar->setTextVisible(false);

    progressText = new QLabel(this);
    progressText->setObjectName(QStringLiteral("progressText"));
    QPalette textPalette = progressText->palette();
    textPalette.setColor(QPalette::WindowText, QColor(64, 64, 64));
    progressText->setPalette(textPalette);
    progressText->setTextFormat(Qt::PlainText);

    m_workTimer = new QTimer(this);
    m_workTimer->setSingleShot(true);
    m_workTimer->setInterval(kWorkLineInterval);
    connect(m_workTimer, &QTimer::timeout, this, [this] {
        if (m_pendingWork.isNull())
            return;
        progressText->setText(m_pendingWork);
        m_pendingWork = QString();
        m_workTimer->start();
    });

    folderProtection = new FolderProtection(
        folderList, [this] { return folderIcons.value(0); }, this);
}

void MainWindow::connectControls()
{
    connect(findButton, &QAbstractButton::clicked, this, &MainWindow::onFindClicked);
    connect(addFolderButton, &QAbstractButton::clicked, this, &MainWindow::onAddFolderClicked);
    connect(clearListButton, &QAbstractButton::clicked, this, &MainWindow::onClearListClicked);
    connect(stopButton, &QAbstractButton::clicked, this, &MainWindow::onStopClicked);
    // A box whose state changes, by the user or by load(), writes its state.
    const auto criterion = [this](QCheckBox* box, Criterion which, const char* key) {
        connect(box, &QCheckBox::toggled, this,
                [this, box, which, key] { criterionToggled(box, which, key); });
    };
    criterion(exactFilenameBox, Criterion::ExactFilename, settingskeys::kExactFilename);
    criterion(exactFilesizeBox, Criterion::ExactFilesize, settingskeys::kExactFilesize);
    criterion(similarFilenameBox, Criterion::SimilarFilename, settingskeys::kSimilarFilename);
    criterion(exactTagBox, Criterion::ExactTag, settingskeys::kExactTag);
    criterion(similarTagBox, Criterion::SimilarTag, settingskeys::kSimilarTag);
    criterion(exactAudioBox, Criterion::ExactAudio, settingskeys::kExactAudio);
    criterion(similarAudioBox, Criterion::SimilarAudio, settingskeys::kSimilarAudio);
    connect(id3v2TitlesBox, &QCheckBox::toggled, this, [this](bool ticked) {
        m_settings.writeNumber(settingskeys::kID3v2Titles, ticked ? 1 : 0);
    });
    connect(folderList, &FolderListView::keyDown, this, &MainWindow::onFolderListKeyDown);
    connect(folderList, &FolderListView::dropped, this, &MainWindow::onFolderListDropped);
    // Every change of the list is stored at once: a program that is killed keeps its folders.
    QAbstractItemModel* entries = folderList->model();
    connect(entries, &QAbstractItemModel::rowsInserted, this, &MainWindow::storeFolders);
    connect(entries, &QAbstractItemModel::rowsRemoved, this, &MainWindow::storeFolders);
    connect(entries, &QAbstractItemModel::modelReset, this, &MainWindow::storeFolders);
}

void MainWindow::setTabOrderOfControls()
{
    const QList<QWidget*> order{
        addFolderButton,  findButton,       clearListButton,    folderList,  stopButton,
        exactFilenameBox, exactFilesizeBox, similarFilenameBox, exactTagBox, similarTagBox,
        exactAudioBox,    similarAudioBox,  id3v2TitlesBox};
    for (qsizetype i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);
}

void MainWindow::watchPointer()
{
    const QList<QWidget*> watched{this,
                                  banner,
                                  folderFrame,
                                  findButton,
                                  addFolderButton,
                                  clearListButton,
                                  exactFilenameBox,
                                  exactFilesizeBox,
                                  stopButton,
                                  similarFilenameBox,
                                  exactTagBox,
                                  similarTagBox,
                                  exactAudioBox,
                                  similarAudioBox,
                                  folderList,
                                  folderList->viewport(),
                                  folderList->header()};
    for (QWidget* widget : watched) {
        widget->setMouseTracking(true);
        widget->installEventFilter(this);
    }
}

void MainWindow::placeBesideFrameTitle()
{
    // In the frame's title row, right after the title.
    const QRect frame = folderFrame->geometry();
    const int title = folderFrame->fontMetrics().horizontalAdvance(folderFrame->title());
    id3v2TitlesBox->move(frame.left() + title + TwipsToPixels(600, LogicalDpi(this)), frame.top());
    id3v2TitlesBox->raise();
}

void MainWindow::load()
{
    CenterOnScreen(this);

    stopButton->move(findButton->pos());

    m_handCursor = HandCursor(QCoreApplication::applicationDirPath());

    folderList->setColumnCount(1);
    folderList->setHeaderLabels({QStringLiteral("Folder")});

    m_geometry->restore();

    folderList->setColumnWidth(
        0, TwipsToPixels(m_geometry->listTwips().width() * 0.875 - 100, LogicalDpi(this)));

    const auto restoreCriterion = [this](QCheckBox* box, const char* key) {
        box->setChecked(m_settings.readInt16(key).value_or(0) == 1);
    };
    restoreCriterion(exactFilenameBox, settingskeys::kExactFilename);
    restoreCriterion(exactFilesizeBox, settingskeys::kExactFilesize);
    restoreCriterion(similarFilenameBox, settingskeys::kSimilarFilename);
    restoreCriterion(exactTagBox, settingskeys::kExactTag);
    restoreCriterion(similarTagBox, settingskeys::kSimilarTag);
    restoreCriterion(id3v2TitlesBox, settingskeys::kID3v2Titles);
    restoreCriterion(exactAudioBox, settingskeys::kExactAudio);
    // A build without the decoder never ticks the hidden box.
    if (AudioPrintsAvailable())
        restoreCriterion(similarAudioBox, settingskeys::kSimilarAudio);

    restoreFolders();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    // Closing the main window ends the program, a running search with it.
    m_runner->channel().close();
    event->accept();
    QCoreApplication::quit();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    // Folders may have come or gone while the user was elsewhere.
    if (watched == this && event->type() == QEvent::WindowActivate)
        refreshFolderEntries();
    if (event->type() == QEvent::MouseMove)
        updatePointer(static_cast<QMouseEvent*>(event)->globalPosition().toPoint());
    return QWidget::eventFilter(watched, event);
}

void MainWindow::updatePointer(const QPoint& globalPos)
{
    // The pointer belongs to the whole window; the control under the mouse decides. Controls
    // without a rule (the progress bar) leave it as it is.
    QWidget* under = childAt(mapFromGlobal(globalPos));
    if (!under)
        under = this;
    const QList<const QWidget*> handControls{findButton,         addFolderButton,  clearListButton,
                                             exactFilenameBox,   exactFilesizeBox, stopButton,
                                             similarFilenameBox, exactTagBox,      similarTagBox,
                                             exactAudioBox,      similarAudioBox,  folderList};
    for (const QWidget* widget = under; widget; widget = widget->parentWidget()) {
        if (handControls.contains(widget)) {
            setCursor(m_handCursor);
            return;
        }
        if (widget == this || widget == folderFrame || widget == banner) {
            if (widget == under)
                setCursor(Qt::ArrowCursor);
            return;
        }
    }
}

void MainWindow::criterionToggled(QCheckBox* box, Criterion criterion, const char* key)
{
    const bool ticked = box->isChecked();
    m_runner->channel().setCriterion(criterion, ticked);
    m_settings.writeNumber(key, ticked ? 1 : 0);
}

void MainWindow::onStopClicked()
{
    m_settings.writeBool(settingskeys::kStop, true);
}

void MainWindow::onAddFolderClicked()
{
    const QString start = m_settings.text(settingskeys::kLastAddedFolder).value_or(QString());
    for (const QString& chosen :
         m_browseForFolders(this, QStringLiteral("Please select folder to add:"), start)) {
        const QString entry = folderEntryFromDialog(chosen);
        if (entry.isEmpty())
            continue;
        addEntry(entry);
        noteFolderAdded(entry);
    }
}

void MainWindow::onClearListClicked()
{
    folderList->clear();
}

void MainWindow::onFolderListKeyDown(int key, Qt::KeyboardModifiers modifiers, bool& handled)
{
    if (key == Qt::Key_Delete) {
        // Backwards, so the positions still to visit stay where they are.
        for (int i = folderList->topLevelItemCount() - 1; i >= 0; --i) {
            if (folderList->topLevelItem(i)->isSelected())
                delete folderList->takeTopLevelItem(i);
        }
        handled = true;
    } else if (key == Qt::Key_A && (modifiers & Qt::ControlModifier)) {
        // Exactly Ctrl: with Shift or Alt as well the key does nothing.
        if ((modifiers & ~Qt::KeypadModifier) == Qt::ControlModifier) {
            for (int i = 0; i < folderList->topLevelItemCount(); ++i)
                folderList->topLevelItem(i)->setSelected(true);
        }
        handled = true;
    }
}

void MainWindow::onFolderListDropped(const QMimeData* dropData)
{
    const DropEntries dropped = folderEntriesFromDrop(dropData);
    for (const QString& entry : dropped.entries) {
        addEntry(entry);
        noteFolderAdded(entry);
    }
    if (!dropped.ok)
        m_messageBoxes->show(this, dropErrorText(), QStringLiteral("Error"), MessageButtons::Ok);
}

void MainWindow::addEntry(const QString& text)
{
    auto* item = new QTreeWidgetItem(folderList, QStringList{text});
    item->setIcon(0, folderIcons.front());
}

void MainWindow::noteFolderAdded(const QString& entry)
{
    m_settings.setText(settingskeys::kLastAddedFolder, entry);
}

void MainWindow::storeFolders()
{
    if (!m_restoringFolders)
        m_settings.setTextList(settingskeys::kFolders, folderEntries());
}

void MainWindow::restoreFolders()
{
    // In one insertion, which looks at every entry's folder once.
    QList<QTreeWidgetItem*> items;
    for (const QString& entry : m_settings.textList(settingskeys::kFolders)) {
        if (entry.isEmpty())
            continue;
        auto* item = new QTreeWidgetItem(QStringList{entry});
        item->setIcon(0, folderIcons.front());
        items.append(item);
    }
    m_restoringFolders = true;
    folderList->addTopLevelItems(items);
    m_restoringFolders = false;
}

void MainWindow::refreshFolderEntries()
{
    folderProtection->refresh();
}

void MainWindow::addFolders(const QStringList& folders)
{
    QStringList listed = folderEntries();
    for (const QString& folder : folders) {
        const QString entry = folderEntryFromArgument(folder);
        if (listed.contains(entry))
            continue;
        addEntry(entry);
        listed.append(entry);
    }
}

QStringList MainWindow::folderEntries() const
{
    QStringList entries;
    for (int i = 0; i < folderList->topLevelItemCount(); ++i)
        entries.append(folderList->topLevelItem(i)->text(0));
    return entries;
}

void MainWindow::setMessageBoxes(MessageBoxes* boxes)
{
    m_messageBoxes = boxes ? boxes : &m_dialogBoxes;
}

void MainWindow::setFolderBrowser(FolderBrowser browser)
{
    m_browseForFolders = browser ? std::move(browser) : FolderBrowser(&browseForFolders);
}

bool MainWindow::isRunActive() const
{
    return m_runner->isActive();
}

void MainWindow::ensureResultsWindow()
{
    if (m_resultsWindow)
        return;
    m_resultsWindow = std::make_unique<ResultsWindow>(m_session);
    m_resultsWindow->setMainWindow(this);
}

void MainWindow::onFindClicked()
{
    if (m_runner->isActive())
        return;

    refreshFolderEntries();
    // The run works on this snapshot, so the list stays free to edit while it runs.
    std::vector<std::string> folders;
    for (const QString& entry : folderEntries())
        folders.push_back(entry.toStdString());

    if (!folders.empty()) {
        ensureResultsWindow();
        m_resultsWindow->beginResultsUpdate();
        m_resultsUpdating = true;
    }
    m_resultsReady = false;
    m_runner->start(std::move(folders), id3v2TitlesBox->isChecked());
}

void MainWindow::onRunFinished()
{
    if (m_resultsUpdating) {
        m_resultsUpdating = false;
        m_resultsWindow->endResultsUpdate();
    }
    if (m_resultsReady && m_resultsWindow) {
        m_resultsReady = false;
        m_resultsWindow->takePlaceOf(this);
        hide();
    }
    emit runEnded();
}

bool MainWindow::endRunForExit(std::chrono::milliseconds timeout)
{
    return m_runner->endForExit(timeout);
}

void MainWindow::syncSettings()
{
    m_settings.sync();
}

void MainWindow::showRunCaption(const QString& caption)
{
    setWindowTitle(caption);
}

void MainWindow::showRunProgress(int percent)
{
    progressBar->setValue(percent);
}

void MainWindow::showRunWork(const QString& text)
{
    if (m_workTimer->isActive()) {
        m_pendingWork = text;
        return;
    }
    progressText->setText(text);
    m_pendingWork = QString();
    m_workTimer->start();
}

MessageAnswer MainWindow::askRunMessage(const QString& text, const QString& title,
                                        MessageButtons buttons)
{
    return m_messageBoxes->show(this, text, title, buttons);
}

void MainWindow::showRunStarted()
{
    stopButton->show();
    findButton->hide();
    stopButton->setFocus();
}

void MainWindow::noteResultsReady()
{
    m_resultsReady = true;
}

void MainWindow::showRunFinished()
{
    stopButton->hide();
    findButton->show();
    // The run is over: what it last did no longer stands under the bar.
    m_workTimer->stop();
    m_pendingWork = QString();
    progressText->clear();
}

} // namespace tunesift
