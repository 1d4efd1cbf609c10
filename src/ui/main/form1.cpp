#include "ui/main/form1.h"

#include "cache/sqlitecache.h"
#include "search/searchrun.h"
#include "ui/main/folderlistview.h"
#include "ui/main/folderpaths.h"
#include "ui/results/form4.h"
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
#include <QTimer>
#include <QTreeWidgetItem>

namespace tunesift {

namespace {

// The window as designed, in twips.
constexpr int kDesignClientWidth = 10890;
constexpr int kDesignClientHeight = 6240;

const QColor kCaptionGrey(128, 128, 128);

const char kDropErrorText[] =
    "You can not drag and drop virtual folders like My Documents. Instead browse to "
    "C:\\Documents and Settings\\Your Name\\My Documents, for example, or drag and drop "
    "subfolders within My Documents";

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

Qt::WindowStates windowStateFromStored(std::optional<qint16> stored)
{
    switch (stored.value_or(0)) {
    case 1:
        return Qt::WindowMinimized;
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

Form1::Form1(SearchSession& session, QWidget* parent) : QWidget(parent), m_session(session)
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

    Form_Load();
}

Form1::~Form1()
{
    m_channel.close();
    if (m_runThread.joinable())
        m_runThread.join();
    if (m_resultsUpdating)
        m_form4->endResultsUpdate();
}

void Form1::createControls()
{
    const double dpi = LogicalDpi(this);
    const QFont font = controlFont();

    Image6 = new SvgPicture(QString::fromLatin1(artwork::kBanner), this);
    Image6->setObjectName(QStringLiteral("Image6"));
    Image6->setGeometry(TwipsRect(-60, -60, 3645, 1380, dpi));

    const auto makeButton = [&](const char* name, const char* picture, const QString& label,
                                QRect twips) {
        auto* button = new PictureButton(QString::fromLatin1(picture), label, this);
        button->setObjectName(QString::fromLatin1(name));
        button->setGeometry(TwipsRect(twips.x(), twips.y(), twips.width(), twips.height(), dpi));
        return button;
    };
    Check2 = makeButton("Check2", artwork::kAddFolder, QStringLiteral("Add Folder"),
                        QRect(3720, 120, 1695, 1095));
    Check1 = makeButton("Check1", artwork::kFindDupes, QStringLiteral("Find Dupes"),
                        QRect(5520, 120, 1695, 1095));
    Check3 = makeButton("Check3", artwork::kClearList, QStringLiteral("Clear List"),
                        QRect(7320, 120, 1695, 1095));
    // Form_Load puts it on Check1's place.
    Check6 = makeButton("Check6", artwork::kStopFind, QStringLiteral("Stop Find"),
                        QRect(0, 0, 1695, 1095));
    Check6->hide();

    const auto makeCriterion = [&](const char* name, const QString& text, QRect twips) {
        auto* box = new QCheckBox(text, this);
        box->setObjectName(QString::fromLatin1(name));
        box->setFont(font);
        setGreyText(box);
        box->setGeometry(TwipsRect(twips.x(), twips.y(), twips.width(), twips.height(), dpi));
        return box;
    };
    Check4 = makeCriterion("Check4", QStringLiteral("Exact Filename"), QRect(9080, 120, 1695, 255));
    Check5 = makeCriterion("Check5", QStringLiteral("Exact Filesize"), QRect(9080, 360, 1695, 255));
    Check7 =
        makeCriterion("Check7", QStringLiteral("Similar Filename"), QRect(9080, 600, 1815, 255));
    Check8 = makeCriterion("Check8", QStringLiteral("Exact Tag"), QRect(9080, 840, 1695, 255));
    Check9 = makeCriterion("Check9", QStringLiteral("Similar Tag"), QRect(9080, 1080, 1695, 255));
    Check10 = makeCriterion("Check10", QStringLiteral("Read ID3v2 titles"), QRect(0, 0, 1935, 255));
    Check10->setToolTip(QStringLiteral("Exact Tag and Similar Tag compare the title of a file's "
                                       "ID3v2 tag where it has one."));

    Frame2 = new QGroupBox(QStringLiteral("Folders to Find Duplicate MP3s In:"), this);
    Frame2->setObjectName(QStringLiteral("Frame2"));
    Frame2->setFont(font);
    setGreyText(Frame2);
    m_frameTwips = QRect(120, 1320, 8535, 2295);

    ImageList1.append(SvgIcon(QString::fromLatin1(artwork::kFolderOpen)));

    ListView3 = new FolderListView(Frame2);
    ListView3->setObjectName(QStringLiteral("ListView3"));
    ListView3->setFont(font);
    QPalette listPalette = ListView3->palette();
    listPalette.setColor(QPalette::Text, Qt::black);
    listPalette.setColor(QPalette::WindowText, Qt::black);
    listPalette.setColor(QPalette::Base, Qt::white);
    ListView3->setPalette(listPalette);
    ListView3->setIconSize(QSize(24, 24));
    const QString tip = QStringLiteral("Drag and drop folders or click 'Add Folder' button.");
    ListView3->setToolTip(tip);
    ListView3->viewport()->setToolTip(tip);
    m_listTwips = QRect(120, 240, 8295, 1695);

    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    m_progressTwips = QRect(360, 4920, 3015, 375);

    applyLayoutTwips();

    connect(Check1, &QAbstractButton::clicked, this, &Form1::Check1_Click);
    connect(Check2, &QAbstractButton::clicked, this, &Form1::Check2_Click);
    connect(Check3, &QAbstractButton::clicked, this, &Form1::Check3_Click);
    connect(Check6, &QAbstractButton::clicked, this, &Form1::Check6_Click);
    // A box whose state changes, by the user or by Form_Load, runs its handler.
    connect(Check4, &QCheckBox::toggled, this, &Form1::Check4_Click);
    connect(Check5, &QCheckBox::toggled, this, &Form1::Check5_Click);
    connect(Check7, &QCheckBox::toggled, this, &Form1::Check7_Click);
    connect(Check8, &QCheckBox::toggled, this, &Form1::Check8_Click);
    connect(Check9, &QCheckBox::toggled, this, &Form1::Check9_Click);
    connect(Check10, &QCheckBox::toggled, this, [this](bool ticked) {
        m_settings.writeNumber(settingskeys::kID3v2Titles, ticked ? 1 : 0);
    });
    connect(ListView3, &FolderListView::keyDown, this, &Form1::ListView3_KeyDown);
    connect(ListView3, &FolderListView::dropped, this, &Form1::ListView3_OLEDragDrop);
}

void Form1::setTabOrderOfControls()
{
    const QList<QWidget*> order{Check2, Check1, Check3, ListView3, Check6, Check4,
                                Check5, Check7, Check8, Check9,    Check10};
    for (qsizetype i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);
}

void Form1::watchPointer()
{
    const QList<QWidget*> watched{this,
                                  Image6,
                                  Frame2,
                                  Check1,
                                  Check2,
                                  Check3,
                                  Check4,
                                  Check5,
                                  Check6,
                                  Check7,
                                  Check8,
                                  Check9,
                                  ListView3,
                                  ListView3->viewport(),
                                  ListView3->header()};
    for (QWidget* widget : watched) {
        widget->setMouseTracking(true);
        widget->installEventFilter(this);
    }
}

void Form1::applyLayoutTwips()
{
    const double dpi = LogicalDpi(this);
    const auto place = [dpi](QWidget* widget, const QRect& twips) {
        widget->setGeometry(TwipsRect(twips.x(), twips.y(), twips.width(), twips.height(), dpi));
    };
    place(Frame2, m_frameTwips);
    place(ListView3, m_listTwips);
    place(ProgressBar1, m_progressTwips);
    // In the frame's caption row, right after the caption.
    const QRect frame = Frame2->geometry();
    const int caption = Frame2->fontMetrics().horizontalAdvance(Frame2->title());
    Check10->move(frame.left() + caption + TwipsToPixels(600, dpi), frame.top());
    Check10->raise();
}

void Form1::Form_Load()
{
    CenterForm(this);

    Check6->move(Check1->pos());

    m_handCursor = HandCursor(QCoreApplication::applicationDirPath());

    ListView3->setColumnCount(1);
    ListView3->setHeaderLabels({QStringLiteral("Folder")});

    setWindowState(windowStateFromStored(m_settings.readInt16(settingskeys::kWindowState)));

    // Nothing stored, not a number or no size at all: the design size.
    const auto storedSize = [this](const char* key) -> std::optional<int> {
        const std::optional<qint16> value = m_settings.readInt16(key);
        if (!value || *value <= 0)
            return std::nullopt;
        return *value;
    };
    const double dpi = LogicalDpi(this);
    m_restoredWidthTwips = storedSize(settingskeys::kFormWidth);
    m_restoredHeightTwips = storedSize(settingskeys::kFormHeight);
    if (m_restoredWidthTwips)
        setOuterWidthTwips(*m_restoredWidthTwips);
    else
        resize(TwipsToPixels(kDesignClientWidth, dpi), height());
    Form_Resize();
    if (m_restoredHeightTwips)
        setOuterHeightTwips(*m_restoredHeightTwips);
    else
        resize(width(), TwipsToPixels(kDesignClientHeight, dpi));
    Form_Resize();

    ListView3->setColumnWidth(0, TwipsToPixels(m_listTwips.width() * 0.875 - 100, dpi));

    const auto restoreCriterion = [this](QCheckBox* box, const char* key) {
        box->setChecked(m_settings.readInt16(key).value_or(0) == 1);
    };
    restoreCriterion(Check4, settingskeys::kExactFilename);
    restoreCriterion(Check5, settingskeys::kExactFilesize);
    restoreCriterion(Check7, settingskeys::kSimilarFilename);
    restoreCriterion(Check8, settingskeys::kExactTag);
    restoreCriterion(Check9, settingskeys::kSimilarTag);
    restoreCriterion(Check10, settingskeys::kID3v2Titles);
}

void Form1::Form_Resize()
{
    const double dpi = LogicalDpi(this);
    const QSize outer = outerSize();
    const int w = PixelsToTwips(outer.width(), dpi);
    const int h = PixelsToTwips(outer.height(), dpi);

    // Each step on its own: a size that would be negative is skipped, the rest still apply.
    if (w - 600 >= 0)
        m_listTwips.setWidth(w - 600);
    if (h - 2700 >= 0)
        m_listTwips.setHeight(h - 2700);
    m_frameTwips.setWidth(m_listTwips.width() + 260);
    m_frameTwips.setHeight(m_listTwips.height() + 380);
    m_progressTwips.moveLeft(m_frameTwips.left());
    m_progressTwips.setWidth(m_frameTwips.width());
    m_progressTwips.moveTop(h - 920);
    applyLayoutTwips();

    m_settings.writeNumber(settingskeys::kWindowState, storedWindowState(windowState()));
    m_settings.writeNumber(settingskeys::kFormHeight, h);
    m_settings.writeNumber(settingskeys::kFormWidth, w);
}

QSize Form1::frameExtra() const
{
    if (!isVisible())
        return {0, 0};
    return frameGeometry().size() - size();
}

QSize Form1::outerSize() const
{
    return size() + frameExtra();
}

void Form1::setOuterWidthTwips(int twips)
{
    const int pixels = TwipsToPixels(twips, LogicalDpi(this)) - frameExtra().width();
    resize(std::max(pixels, 1), height());
}

void Form1::setOuterHeightTwips(int twips)
{
    const int pixels = TwipsToPixels(twips, LogicalDpi(this)) - frameExtra().height();
    resize(width(), std::max(pixels, 1));
}

void Form1::applyRestoredOuterSize()
{
    // Before the first show the frame is unknown and the stored outer size went to the client
    // area; now that the frame is there, take it off again so the size does not grow each start.
    if (windowState() == Qt::WindowNoState && !frameExtra().isNull()) {
        if (m_restoredWidthTwips)
            setOuterWidthTwips(*m_restoredWidthTwips);
        if (m_restoredHeightTwips)
            setOuterHeightTwips(*m_restoredHeightTwips);
    }
    m_restoredWidthTwips.reset();
    m_restoredHeightTwips.reset();
    Form_Resize();
}

void Form1::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    Form_Resize();
}

void Form1::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        Form_Resize();
}

void Form1::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!m_shownOnce) {
        m_shownOnce = true;
        QTimer::singleShot(0, this, &Form1::applyRestoredOuterSize);
    }
}

void Form1::closeEvent(QCloseEvent* event)
{
    // Closing the main window ends the program, a running search with it.
    m_channel.close();
    event->accept();
    QCoreApplication::quit();
}

bool Form1::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseMove)
        updatePointer(static_cast<QMouseEvent*>(event)->globalPosition().toPoint());
    return QWidget::eventFilter(watched, event);
}

void Form1::updatePointer(const QPoint& globalPos)
{
    // The pointer belongs to the whole window; the control under the mouse decides. Controls
    // without a rule (the progress bar) leave it as it is.
    QWidget* under = childAt(mapFromGlobal(globalPos));
    if (!under)
        under = this;
    const QList<const QWidget*> handControls{Check1, Check2, Check3, Check4, Check5,
                                             Check6, Check7, Check8, Check9, ListView3};
    for (const QWidget* widget = under; widget; widget = widget->parentWidget()) {
        if (handControls.contains(widget)) {
            setCursor(m_handCursor);
            return;
        }
        if (widget == this || widget == Frame2 || widget == Image6) {
            if (widget == under)
                setCursor(Qt::ArrowCursor);
            return;
        }
    }
}

void Form1::criterionClicked(QCheckBox* box, Criterion criterion, const char* key)
{
    const bool ticked = box->isChecked();
    m_channel.setCriterion(criterion, ticked);
    m_settings.writeNumber(key, ticked ? 1 : 0);
}

void Form1::Check4_Click()
{
    criterionClicked(Check4, Criterion::ExactFilename, settingskeys::kExactFilename);
}

void Form1::Check5_Click()
{
    criterionClicked(Check5, Criterion::ExactFilesize, settingskeys::kExactFilesize);
}

void Form1::Check7_Click()
{
    criterionClicked(Check7, Criterion::SimilarFilename, settingskeys::kSimilarFilename);
}

void Form1::Check8_Click()
{
    criterionClicked(Check8, Criterion::ExactTag, settingskeys::kExactTag);
}

void Form1::Check9_Click()
{
    criterionClicked(Check9, Criterion::SimilarTag, settingskeys::kSimilarTag);
}

void Form1::Check6_Click()
{
    m_settings.writeBool(settingskeys::kStop, true);
}

void Form1::Check2_Click()
{
    const QString entry = FolderEntryFromDialog(
        m_browseForFolder(this, QStringLiteral("Please select folder to add:")));
    if (!entry.isEmpty())
        addEntry(entry);
}

void Form1::Check3_Click()
{
    ListView3->clear();
}

void Form1::ListView3_KeyDown(int key, Qt::KeyboardModifiers modifiers, bool& handled)
{
    if (key == Qt::Key_Delete) {
        // Backwards, so the positions still to visit stay where they are.
        for (int i = ListView3->topLevelItemCount() - 1; i >= 0; --i) {
            if (ListView3->topLevelItem(i)->isSelected())
                delete ListView3->takeTopLevelItem(i);
        }
        handled = true;
    } else if (key == Qt::Key_A && (modifiers & Qt::ControlModifier)) {
        // Exactly Ctrl: with Shift or Alt as well the key does nothing.
        if ((modifiers & ~Qt::KeypadModifier) == Qt::ControlModifier) {
            for (int i = 0; i < ListView3->topLevelItemCount(); ++i)
                ListView3->topLevelItem(i)->setSelected(true);
        }
        handled = true;
    }
}

void Form1::ListView3_OLEDragDrop(const QMimeData* dropData)
{
    const DropEntries dropped = FolderEntriesFromDrop(dropData);
    for (const QString& entry : dropped.entries)
        addEntry(entry);
    if (!dropped.ok)
        m_messageBoxes->show(this, QString::fromLatin1(kDropErrorText), QStringLiteral("Error"),
                             MessageButtons::Ok);
}

void Form1::addEntry(const QString& text)
{
    auto* item = new QTreeWidgetItem(ListView3, QStringList{text});
    item->setIcon(0, ImageList1.front());
}

void Form1::addFolders(const QStringList& folders)
{
    for (const QString& folder : folders)
        addEntry(FolderEntryFromArgument(folder));
}

QStringList Form1::folderEntries() const
{
    QStringList entries;
    for (int i = 0; i < ListView3->topLevelItemCount(); ++i)
        entries.append(ListView3->topLevelItem(i)->text(0));
    return entries;
}

void Form1::setMessageBoxes(MessageBoxes* boxes)
{
    m_messageBoxes = boxes ? boxes : &m_dialogBoxes;
}

void Form1::setFolderBrowser(FolderBrowser browser)
{
    m_browseForFolder = browser ? std::move(browser) : FolderBrowser(&BrowseForFolder);
}

bool Form1::isRunActive() const
{
    return m_runThread.joinable();
}

void Form1::ensureResultsWindow()
{
    if (m_form4)
        return;
    m_form4 = std::make_unique<Form4>(m_session);
    m_form4->setMainWindow(this);
}

void Form1::Check1_Click()
{
    if (m_runThread.joinable())
        return;

    // The run works on this snapshot, so the list stays free to edit while it runs.
    std::vector<std::string> folders;
    for (const QString& entry : folderEntries())
        folders.push_back(entry.toStdString());

    if (!folders.empty()) {
        ensureResultsWindow();
        m_form4->beginResultsUpdate();
        m_resultsUpdating = true;
    }
    m_resultsReady = false;
    m_channel.setRunActive(true);
    const bool id3v2Titles = Check10->isChecked();
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
        QMetaObject::invokeMethod(this, &Form1::onRunThreadDone, Qt::QueuedConnection);
    });
}

void Form1::onRunThreadDone()
{
    if (m_runThread.joinable())
        m_runThread.join();
    if (m_resultsUpdating) {
        m_resultsUpdating = false;
        m_form4->endResultsUpdate();
    }
    if (m_resultsReady && m_form4) {
        m_resultsReady = false;
        m_form4->takePlaceOf(this);
        hide();
    }
    emit runEnded();
}

bool Form1::endRunForExit(std::chrono::milliseconds timeout)
{
    m_channel.close();
    if (!m_runThread.joinable())
        return true;
    if (!m_channel.waitUntilIdle(timeout))
        return false;
    m_runThread.join();
    return true;
}

void Form1::syncSettings()
{
    m_settings.sync();
}

void Form1::showRunCaption(const QString& caption)
{
    setWindowTitle(caption);
}

void Form1::showRunProgress(int percent)
{
    ProgressBar1->setValue(percent);
}

MessageAnswer Form1::askRunMessage(const QString& text, const QString& title,
                                   MessageButtons buttons)
{
    return m_messageBoxes->show(this, text, title, buttons);
}

void Form1::showRunStarted()
{
    Check6->show();
    Check1->hide();
    Check6->setFocus();
}

void Form1::noteResultsReady()
{
    m_resultsReady = true;
}

void Form1::showRunFinished()
{
    Check6->hide();
    Check1->show();
}

} // namespace tunesift
