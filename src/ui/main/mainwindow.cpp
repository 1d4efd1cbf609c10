#include "ui/main/mainwindow.h"

#include "cache/sqlitecache.h"
#include "mp3/id3v2title.h"
#include "search/searchrun.h"
#include "ui/main/folderlistview.h"
#include "ui/main/folderpaths.h"
#include "ui/main/folderprotection.h"
#include "ui/results/resultswindow.h"
#include "ui/support/artwork.h"
#include "ui/support/centerform.h"
#include "ui/support/cursorfile.h"
#include "ui/support/picturebutton.h"
#include "ui/support/twips.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QMouseEvent>
#include <QProgressBar>
#include <QTreeWidgetItem>

namespace tunesift {

namespace {

// The window as designed, in twips.
constexpr int kDesignClientWidth = 10890;
constexpr int kDesignClientHeight = 6240;

const QColor kCaptionGrey(128, 128, 128);

// The list's height below which the layout rule stops (the window's height less 2970 twips), and
// the least height the window keeps for it: a header and two folders. The folder frame starts
// below the sixth criterion, 270 twips lower than with five.
constexpr int kFrameTop = 1590;
constexpr int kListHeightAllowance = 2970;
constexpr int kMinimumListHeight = 1500;

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

// A window closed minimised opens normal: a program started minimised is easily taken for one
// that did not start.
Qt::WindowStates windowStateFromStored(std::optional<qint16> stored)
{
    switch (stored.value_or(0)) {
    case 2:
        return Qt::WindowMaximized;
    default:
        return Qt::WindowNoState;
    }
}

int storedWindowState(Qt::WindowStates state)
{
    if (state & Qt::WindowMinimized)
        return 1;
    if (state & (Qt::WindowMaximized | Qt::WindowFullScreen))
        return 2;
    return 0;
}

} // namespace

QString BrowseForFolder(QWidget* owner, const QString& prompt)
{
    return QFileDialog::getExistingDirectory(owner, prompt);
}

MainWindow::MainWindow(SearchSession& session, QWidget* parent)
    : QWidget(parent), m_session(session)
{
    InitArtwork();
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Tunesift 7.0"));
    setWindowIcon(SvgIcon(QString::fromLatin1(artwork::kAppIcon)));

    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Qt::white);
    setPalette(palette);
    setAutoFillBackground(true);

    const double dpi = LogicalDpi(this);
    resize(TwipsToPixels(kDesignClientWidth, dpi), TwipsToPixels(kDesignClientHeight, dpi));
    createControls();
    setTabOrderOfControls();
    watchPointer();
    // Small enough to leave room beside the window, large enough that every control stays whole.
    setMinimumSize(RightEdgeOfControls({banner, addFolderButton, findButton, clearListButton,
                                        exactFilenameBox, exactFilesizeBox, similarFilenameBox,
                                        exactTagBox, similarTagBox, exactAudioBox}),
                   TwipsToPixels(kListHeightAllowance + kMinimumListHeight, dpi));

    onLoad();
}

MainWindow::~MainWindow()
{
    m_channel.close();
    if (m_runThread.joinable())
        m_runThread.join();
    if (m_resultsUpdating)
        m_resultsWindow->endResultsUpdate();
}

void MainWindow::createControls()
{
    const double dpi = LogicalDpi(this);
    const QFont font = controlFont();

    banner = new SvgPicture(QString::fromLatin1(artwork::kBanner), this);
    banner->setObjectName(QStringLiteral("Image6"));
    banner->setGeometry(TwipsRect(-60, -60, 3645, 1380, dpi));

    const auto makeButton = [&](const char* name, const char* picture, const QString& label,
                                QRect twips) {
        auto* button = new PictureButton(QString::fromLatin1(picture), label, this);
        button->setObjectName(QString::fromLatin1(name));
        button->setGeometry(TwipsRect(twips.x(), twips.y(), twips.width(), twips.height(), dpi));
        return button;
    };
    addFolderButton = makeButton("Check2", artwork::kAddFolder, QStringLiteral("Add Folder"),
                                 QRect(3720, 120, 1695, 1095));
    findButton = makeButton("Check1", artwork::kFindDupes, QStringLiteral("Find Dupes"),
                            QRect(5520, 120, 1695, 1095));
    clearListButton = makeButton("Check3", artwork::kClearList, QStringLiteral("Clear List"),
                                 QRect(7320, 120, 1695, 1095));
    // onLoad puts it on findButton's place.
    stopButton = makeButton("Check6", artwork::kStopFind, QStringLiteral("Stop Find"),
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
    exactFilenameBox =
        makeCriterion("Check4", QStringLiteral("Exact Filename"), QRect(9080, 120, 1695, 255));
    exactFilesizeBox =
        makeCriterion("Check5", QStringLiteral("Exact Filesize"), QRect(9080, 360, 1695, 255));
    similarFilenameBox =
        makeCriterion("Check7", QStringLiteral("Similar Filename"), QRect(9080, 600, 1815, 255));
    exactTagBox = makeCriterion("Check8", QStringLiteral("Exact Tag"), QRect(9080, 840, 1695, 255));
    similarTagBox =
        makeCriterion("Check9", QStringLiteral("Similar Tag"), QRect(9080, 1080, 1695, 255));
    exactAudioBox =
        makeCriterion("exactAudioBox", QStringLiteral("Exact Audio"), QRect(9080, 1320, 1695, 255));
    id3v2TitlesBox =
        makeCriterion("ID3v2Titles", QStringLiteral("Read ID3v2 titles"), QRect(0, 0, 1935, 255));
    id3v2TitlesBox->setToolTip(QStringLiteral("Exact Tag and Similar Tag compare the title of a "
                                              "file's ID3v2 tag where it has one."));
    id3v2TitlesBox->setVisible(ID3v2TitlesAvailable());

    folderFrame = new QGroupBox(QStringLiteral("Folders to Find Duplicate MP3s In:"), this);
    folderFrame->setObjectName(QStringLiteral("Frame2"));
    folderFrame->setFont(font);
    setGreyText(folderFrame);
    m_frameTwips = QRect(120, kFrameTop, 8535, 2295);

    folderIcons.append(SvgIcon(QString::fromLatin1(artwork::kFolderOpen)));

    folderList = new FolderListView(folderFrame);
    folderList->setObjectName(QStringLiteral("ListView3"));
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
    m_listTwips = QRect(120, 240, 8295, 1695);

    progressBar = new QProgressBar(this);
    progressBar->setObjectName(QStringLiteral("ProgressBar1"));
    progressBar->setRange(0, 100);
    progressBar->setValue(0);
    progressBar->setTextVisible(false);
    m_progressTwips = QRect(360, 4920, 3015, 375);

    applyLayoutTwips();

    connect(findButton, &QAbstractButton::clicked, this, &MainWindow::onFindClicked);
    connect(addFolderButton, &QAbstractButton::clicked, this, &MainWindow::onAddFolderClicked);
    connect(clearListButton, &QAbstractButton::clicked, this, &MainWindow::onClearListClicked);
    connect(stopButton, &QAbstractButton::clicked, this, &MainWindow::onStopClicked);
    // A box whose state changes, by the user or by onLoad, runs its handler.
    connect(exactFilenameBox, &QCheckBox::toggled, this, &MainWindow::onExactFilenameToggled);
    connect(exactFilesizeBox, &QCheckBox::toggled, this, &MainWindow::onExactFilesizeToggled);
    connect(similarFilenameBox, &QCheckBox::toggled, this, &MainWindow::onSimilarFilenameToggled);
    connect(exactTagBox, &QCheckBox::toggled, this, &MainWindow::onExactTagToggled);
    connect(similarTagBox, &QCheckBox::toggled, this, &MainWindow::onSimilarTagToggled);
    connect(id3v2TitlesBox, &QCheckBox::toggled, this, [this](bool ticked) {
        m_settings.writeNumber(settingskeys::kID3v2Titles, ticked ? 1 : 0);
    });
    connect(exactAudioBox, &QCheckBox::toggled, this, &MainWindow::onExactAudioToggled);
    connect(folderList, &FolderListView::keyDown, this, &MainWindow::onFolderListKeyDown);
    connect(folderList, &FolderListView::dropped, this, &MainWindow::onFolderListDropped);
    folderProtection = new FolderProtection(
        folderList, [this] { return folderIcons.value(0); }, this);
}

void MainWindow::setTabOrderOfControls()
{
    const QList<QWidget*> order{addFolderButton,  findButton,         clearListButton,
                                folderList,       stopButton,         exactFilenameBox,
                                exactFilesizeBox, similarFilenameBox, exactTagBox,
                                similarTagBox,    exactAudioBox,      id3v2TitlesBox};
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
                                  folderList,
                                  folderList->viewport(),
                                  folderList->header()};
    for (QWidget* widget : watched) {
        widget->setMouseTracking(true);
        widget->installEventFilter(this);
    }
}

void MainWindow::applyLayoutTwips()
{
    const double dpi = LogicalDpi(this);
    const auto place = [dpi](QWidget* widget, const QRect& twips) {
        widget->setGeometry(TwipsRect(twips.x(), twips.y(), twips.width(), twips.height(), dpi));
    };
    place(folderFrame, m_frameTwips);
    place(folderList, m_listTwips);
    place(progressBar, m_progressTwips);
    // In the frame's title row, right after the title.
    const QRect frame = folderFrame->geometry();
    const int title = folderFrame->fontMetrics().horizontalAdvance(folderFrame->title());
    id3v2TitlesBox->move(frame.left() + title + TwipsToPixels(600, dpi), frame.top());
    id3v2TitlesBox->raise();
}

void MainWindow::onLoad()
{
    CenterForm(this);

    stopButton->move(findButton->pos());

    m_handCursor = HandCursor(QCoreApplication::applicationDirPath());

    folderList->setColumnCount(1);
    folderList->setHeaderLabels({QStringLiteral("Folder")});

    // Read before the size is restored, which stores the state it finds.
    const Qt::WindowStates storedState =
        windowStateFromStored(m_settings.readInt16(settingskeys::kWindowState));
    // Nothing stored, not a number or no size at all: the design size.
    const auto storedSize = [this](const char* key) -> std::optional<int> {
        const std::optional<qint16> value = m_settings.readInt16(key);
        if (!value || *value <= 0)
            return std::nullopt;
        return *value;
    };
    const double dpi = LogicalDpi(this);
    const std::optional<int> storedWidth = storedSize(settingskeys::kFormWidth);
    const std::optional<int> storedHeight = storedSize(settingskeys::kFormHeight);
    if (storedWidth)
        setOuterWidthTwips(*storedWidth);
    else
        resize(TwipsToPixels(kDesignClientWidth, dpi), height());
    layOutAndStoreGeometry();
    if (storedHeight)
        setOuterHeightTwips(*storedHeight);
    else
        resize(width(), TwipsToPixels(kDesignClientHeight, dpi));
    layOutAndStoreGeometry();
    // Until the window manager has framed the window the stored outer size stands for the client
    // area; the frame is taken off once it is known (noteFrame).
    if (storedWidth || storedHeight)
        m_pendingOuter = QSize(storedWidth ? width() : -1, storedHeight ? height() : -1);
    // The state after the size: a window maximised first would keep the design size as the size
    // to return to.
    setWindowState(storedState);
    if (windowState() == Qt::WindowNoState)
        KeepOnScreen(this, frameExtra());
    // A hidden window gets its resize event only when shown: the layout runs here itself, so
    // that the column below takes its width from the list as it will be.
    layOutAndStoreGeometry();

    folderList->setColumnWidth(0, TwipsToPixels(m_listTwips.width() * 0.875 - 100, dpi));

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
}

void MainWindow::layOutAndStoreGeometry()
{
    const double dpi = LogicalDpi(this);
    const QSize outer = size() + frameExtra();
    const int w = PixelsToTwips(outer.width(), dpi);
    const int h = PixelsToTwips(outer.height(), dpi);

    // Each step on its own: a size that would be negative is skipped, the rest still apply.
    if (w - 600 >= 0)
        m_listTwips.setWidth(w - 600);
    if (h - kListHeightAllowance >= 0)
        m_listTwips.setHeight(h - kListHeightAllowance);
    m_frameTwips.setWidth(m_listTwips.width() + 260);
    m_frameTwips.setHeight(m_listTwips.height() + 380);
    m_progressTwips.moveLeft(m_frameTwips.left());
    m_progressTwips.setWidth(m_frameTwips.width());
    m_progressTwips.moveTop(h - 920);
    applyLayoutTwips();

    // The size stored is the outer size of the normal window, also while maximised or
    // minimised, so that the next start restores the size the window has when not maximised.
    const QSize normalOuter = normalClientSize() + frameExtra();
    m_settings.writeNumber(settingskeys::kWindowState, storedWindowState(windowState()));
    m_settings.writeNumber(settingskeys::kFormHeight, PixelsToTwips(normalOuter.height(), dpi));
    m_settings.writeNumber(settingskeys::kFormWidth, PixelsToTwips(normalOuter.width(), dpi));
}

QSize MainWindow::normalClientSize() const
{
    if (windowState() == Qt::WindowNoState)
        return size();
    const QSize normal = normalGeometry().size();
    return normal.isEmpty() ? size() : normal;
}

QSize MainWindow::frameExtra() const
{
    // Hidden, or shown but not yet framed by the window manager, the window has no frame of its
    // own to measure; the last one seen in the normal state stands in for it.
    if (isVisible() && windowState() == Qt::WindowNoState) {
        const QSize current = frameGeometry().size() - size();
        if (!current.isNull())
            return current;
    }
    return m_knownFrame;
}

void MainWindow::noteFrame()
{
    if (!isVisible() || windowState() != Qt::WindowNoState)
        return;
    const QSize current = frameGeometry().size() - size();
    if (current.isNull())
        return;
    m_knownFrame = current;
    if (!m_pendingOuter)
        return;
    const QSize outer = *m_pendingOuter;
    m_pendingOuter.reset();
    resize(outer.width() > 0 ? std::max(outer.width() - current.width(), 1) : width(),
           outer.height() > 0 ? std::max(outer.height() - current.height(), 1) : height());
    KeepOnScreen(this, current);
}

void MainWindow::setOuterWidthTwips(int twips)
{
    const int pixels = TwipsToPixels(twips, LogicalDpi(this)) - frameExtra().width();
    resize(std::max(pixels, 1), height());
}

void MainWindow::setOuterHeightTwips(int twips)
{
    const int pixels = TwipsToPixels(twips, LogicalDpi(this)) - frameExtra().height();
    resize(width(), std::max(pixels, 1));
}

void MainWindow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    noteFrame();
    layOutAndStoreGeometry();
}

void MainWindow::moveEvent(QMoveEvent* event)
{
    QWidget::moveEvent(event);
    // The window manager's frame shows up as a move of the client area.
    noteFrame();
}

void MainWindow::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange) {
        noteFrame();
        layOutAndStoreGeometry();
    }
}

void MainWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    noteFrame();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    // Closing the main window ends the program, a running search with it.
    m_channel.close();
    event->accept();
    QCoreApplication::quit();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
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
                                             exactAudioBox,      folderList};
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

void MainWindow::criterionClicked(QCheckBox* box, Criterion criterion, const char* key)
{
    const bool ticked = box->isChecked();
    m_channel.setCriterion(criterion, ticked);
    m_settings.writeNumber(key, ticked ? 1 : 0);
}

void MainWindow::onExactFilenameToggled()
{
    criterionClicked(exactFilenameBox, Criterion::ExactFilename, settingskeys::kExactFilename);
}

void MainWindow::onExactFilesizeToggled()
{
    criterionClicked(exactFilesizeBox, Criterion::ExactFilesize, settingskeys::kExactFilesize);
}

void MainWindow::onSimilarFilenameToggled()
{
    criterionClicked(similarFilenameBox, Criterion::SimilarFilename,
                     settingskeys::kSimilarFilename);
}

void MainWindow::onExactTagToggled()
{
    criterionClicked(exactTagBox, Criterion::ExactTag, settingskeys::kExactTag);
}

void MainWindow::onSimilarTagToggled()
{
    criterionClicked(similarTagBox, Criterion::SimilarTag, settingskeys::kSimilarTag);
}

void MainWindow::onExactAudioToggled()
{
    criterionClicked(exactAudioBox, Criterion::ExactAudio, settingskeys::kExactAudio);
}

void MainWindow::onStopClicked()
{
    m_settings.writeBool(settingskeys::kStop, true);
}

void MainWindow::onAddFolderClicked()
{
    const QString entry = FolderEntryFromDialog(
        m_browseForFolder(this, QStringLiteral("Please select folder to add:")));
    if (!entry.isEmpty())
        addEntry(entry);
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
    const DropEntries dropped = FolderEntriesFromDrop(dropData);
    for (const QString& entry : dropped.entries)
        addEntry(entry);
    if (!dropped.ok)
        m_messageBoxes->show(this, dropErrorText(), QStringLiteral("Error"), MessageButtons::Ok);
}

void MainWindow::addEntry(const QString& text)
{
    auto* item = new QTreeWidgetItem(folderList, QStringList{text});
    item->setIcon(0, folderIcons.front());
}

void MainWindow::addFolders(const QStringList& folders)
{
    for (const QString& folder : folders)
        addEntry(FolderEntryFromArgument(folder));
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
    m_browseForFolder = browser ? std::move(browser) : FolderBrowser(&BrowseForFolder);
}

bool MainWindow::isRunActive() const
{
    return m_runThread.joinable();
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
    if (m_runThread.joinable())
        return;

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
    m_channel.setRunActive(true);
    const bool id3v2Titles = id3v2TitlesBox->isChecked();
    m_runThread = std::thread([this, folders = std::move(folders), id3v2Titles] {
        {
            SettingsStore store; // QSettings objects are not shared between threads
            GuiSearchHost host(m_channel, store, this, this);
            // The window says nothing of a cache that cannot be used: the run reads every file.
            std::unique_ptr<SqliteFileCache> cache;
            if (const std::optional<std::filesystem::path> file = DefaultCacheFile())
                cache = std::make_unique<SqliteFileCache>(*file, nullptr);
            host.setReading(id3v2Titles, cache && cache->usable() ? cache.get() : nullptr);
            RunSearch(m_session, folders, host);
        }
        m_channel.setRunActive(false);
        QMetaObject::invokeMethod(this, &MainWindow::onRunThreadDone, Qt::QueuedConnection);
    });
}

void MainWindow::onRunThreadDone()
{
    if (m_runThread.joinable())
        m_runThread.join();
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
    m_channel.close();
    if (!m_runThread.joinable())
        return true;
    if (!m_channel.waitUntilIdle(timeout))
        return false;
    m_runThread.join();
    return true;
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
}

} // namespace tunesift
