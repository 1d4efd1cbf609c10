#include "ui/results/resultswindow.h"

#include "files/pathops.h"
#include "platform/recyclingbin.h"
#include "search/searchrun.h"
#include "ui/results/recyclebindialogs.h"
#include "ui/results/resultcolumns.h"
#include "ui/results/resultsactions.h"
#include "ui/results/resultsmodel.h"
#include "ui/results/songtagreader.h"
#include "ui/support/artwork.h"
#include "ui/support/cursorfile.h"
#include "ui/support/picturebutton.h"
#include "ui/support/twips.h"
#include "ui/support/windowplacement.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QSvgRenderer>
#include <QToolButton>
#include <QTreeView>
#include <algorithm>
#include <array>
#include <unordered_map>
#include <unordered_set>

// Resources of a static library must be registered by name, outside any namespace.
static void initResultsResources()
{
    Q_INIT_RESOURCE(results);
}

namespace tunesift {

namespace {

// Design geometry in twips.
constexpr int kDesignClientWidth = 12450;
constexpr int kDesignClientHeight = 7230;
constexpr int kListLeft = 120;
constexpr int kListTop = 1320;
constexpr int kListWidthAllowance = 360;
// The summary line under the list takes its height from the list.
constexpr int kListHeightAllowance = 1900 + kSummaryLineTwips;
// The least list height the window keeps: a header and a few rows.
constexpr int kMinimumListHeight = 1500;

QPixmap renderPicture(const QString& resource, QSize size, qreal pixelRatio)
{
    QSvgRenderer renderer(resource);
    QPixmap pixmap(size * pixelRatio);
    pixmap.setDevicePixelRatio(pixelRatio);
    pixmap.fill(Qt::white);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(size)));
    return pixmap;
}

} // namespace

ResultsWindow::ResultsWindow(SearchSession& session, QWidget* parent)
    : QWidget(parent, Qt::Window), m_session(session)
{
    initResultsResources();
    InitArtwork();
    createControls();
}

ResultsWindow::~ResultsWindow() = default;

void ResultsWindow::createControls()
{
    setObjectName(QStringLiteral("resultsWindow"));
    setWindowTitle(QStringLiteral("Tunesift 7.0"));
    QPalette background = palette();
    background.setColor(QPalette::Window, Qt::white);
    setPalette(background);
    setAutoFillBackground(true);

    const double dpi = LogicalDpi(this);
    resize(TwipsToPixels(kDesignClientWidth, dpi), TwipsToPixels(kDesignClientHeight, dpi));

    m_banner = new QLabel(this);
    m_banner->setObjectName(QStringLiteral("resultsBanner"));
    const QRect bannerArea = TwipsRect(-60, -60, 3645, 1380, dpi);
    m_banner->setGeometry(bannerArea);
    m_banner->setPixmap(renderPicture(QStringLiteral(":/artwork/banner.svg"), bannerArea.size(),
                                      devicePixelRatioF()));

    m_backButton =
        new PictureButton(QStringLiteral(":/results/back.svg"), QStringLiteral("Back"), this);
    m_backButton->setObjectName(QStringLiteral("backButton"));
    m_backButton->setGeometry(TwipsRect(3720, 120, 2175, 1095, dpi));

    m_deleteButton = new PictureButton(QStringLiteral(":/results/delete.svg"),
                                       QStringLiteral("Delete checked"), this);
    m_deleteButton->setObjectName(QStringLiteral("deleteButton"));
    m_deleteButton->setGeometry(TwipsRect(6000, 120, 2175, 1095, dpi));
    m_deleteButton->setToolTip(QStringLiteral("Delete checked files."));

    m_clearChecksButton = new PictureButton(QStringLiteral(":/results/clear.svg"),
                                            QStringLiteral("Clear checkmarks"), this);
    m_clearChecksButton->setObjectName(QStringLiteral("clearChecksButton"));
    m_clearChecksButton->setGeometry(TwipsRect(8280, 120, 2175, 1095, dpi));
    m_clearChecksButton->setToolTip(QStringLiteral("Clear out all checkmarks."));

    m_model = new ResultsModel(m_session.results(), this);
    m_list = new QTreeView(this);
    m_list->setObjectName(QStringLiteral("resultsList"));
    m_list->setGeometry(TwipsRect(kListLeft, kListTop, m_listWidthTwips, m_listHeightTwips, dpi));
    m_list->setFont(QFont(QStringLiteral("Arial"), 9, QFont::Bold));
    m_list->setRootIsDecorated(false);
    m_list->setItemsExpandable(false);
    // Every row is one line, so the view need not measure 100,000 rows to scroll.
    m_list->setUniformRowHeights(true);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setAllColumnsShowFocus(true);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // The view sorts nothing itself: a header's clicks sort the groups in the model, which keeps
    // each group's rows together (ascending or descending, then the search's order again).
    m_list->setSortingEnabled(false);
    // Sets the model and the header.
    m_columns = new ResultColumns(m_list, m_model);
    QHeaderView* header = m_list->header();
    header->setSectionsClickable(true);
    header->setSortIndicatorClearable(true);
    connect(header, &QHeaderView::sortIndicatorChanged, m_model, &ResultsModel::sortGroups);
    m_tagReader = new SongTagReader(this);
    m_model->setTagLookup([reader = m_tagReader](std::uint32_t id) { return reader->tagsOf(id); });
    connect(m_tagReader, &SongTagReader::tagsRead, m_model, &ResultsModel::tagsChanged);
    connect(m_columns, &ResultColumns::tagColumnsChanged, this, &ResultsWindow::readTagsIfShown);
    // A long path keeps its file name in view; the tooltip shows it whole.
    m_list->setTextElideMode(Qt::ElideMiddle);

    setTabOrder(m_backButton, m_deleteButton);
    setTabOrder(m_deleteButton, m_clearChecksButton);
    m_actions = new ResultsActions(this, m_list, m_model, [this] { onDeleteClicked(); });
    m_actions->setListedFolders([this] {
        QStringList folders;
        for (const std::string& folder : m_session.listedFolders())
            folders.append(QString::fromStdString(folder));
        return folders;
    });
    setTabOrder(m_clearChecksButton, m_actions->menuButton());
    setTabOrder(m_actions->menuButton(), m_list);

    connect(m_deleteButton, &QAbstractButton::clicked, this, &ResultsWindow::onDeleteClicked);
    connect(m_backButton, &QAbstractButton::clicked, this, &ResultsWindow::onBackClicked);
    connect(m_clearChecksButton, &QAbstractButton::clicked, this,
            &ResultsWindow::onClearChecksClicked);
    connect(m_model, &ResultsModel::itemCheck, this, &ResultsWindow::onRowCheckToggled);

    m_dialogs = std::make_unique<RecycleBinDialogs>(this);
    m_recycleBin = m_dialogs.get();

    m_handCursor = HandCursor(QCoreApplication::applicationDirPath());
    applyCursors();

    // Every button whole and a few rows of the list in view.
    setMinimumSize(
        RightEdgeOfControls({m_banner, m_backButton, m_deleteButton, m_clearChecksButton}),
        TwipsToPixels(kListHeightAllowance + kMinimumListHeight, dpi));
    layOutList();
}

void ResultsWindow::applyCursors()
{
    for (QWidget* widget : std::initializer_list<QWidget*>{
             m_deleteButton, m_backButton, m_clearChecksButton, m_list, m_list->viewport()})
        widget->setCursor(m_handCursor);
    setCursor(Qt::ArrowCursor);
    m_banner->setCursor(Qt::ArrowCursor);
}

void ResultsWindow::setMainWindow(QWidget* mainWindow)
{
    m_mainWindow = mainWindow;
}

void ResultsWindow::readTagsIfShown()
{
    if (m_columns->tagsShown() && !m_tagReader->started() && !m_model->isUpdating() &&
        m_model->rowCount() > 0)
        m_tagReader->start(m_model->list());
}

void ResultsWindow::beginResultsUpdate()
{
    m_tagReader->forget();
    m_actions->forgetResults();
    m_model->beginResultsUpdate();
    // A new search shows its rows in its own order.
    m_list->header()->setSortIndicator(-1, Qt::AscendingOrder);
}

void ResultsWindow::endResultsUpdate()
{
    m_model->endResultsUpdate();
    m_actions->resultsFilled();
    readTagsIfShown();
}

void ResultsWindow::takePlaceOf(QWidget* mainWindow)
{
    if (mainWindow) {
        if (mainWindow->isMaximized()) {
            setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowMaximized);
        } else if (!mainWindow->isMinimized()) {
            setWindowState(windowState() &
                           ~(Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen));
            resize(mainWindow->size());
            move(mainWindow->pos());
        }
    }
    show();
    raise();
    activateWindow();
}

void ResultsWindow::setRecycleBinHost(RecycleBinHost* host)
{
    m_recycleBin = host ? host : m_dialogs.get();
}

void ResultsWindow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    layOutList();
}

void ResultsWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // The window frame, part of the outer size the layout works from, exists only once shown.
    layOutList();
}

void ResultsWindow::moveEvent(QMoveEvent* event)
{
    QWidget::moveEvent(event);
    // A move alone leaves the columns as the user set them; only the frame arriving from the
    // window manager, which changes the outer size, lays the list out again.
    if (frameGeometry().size() != m_laidOutOuterSize)
        layOutList();
}

void ResultsWindow::layOutList()
{
    const double dpi = LogicalDpi(this);
    const QRect outer = frameGeometry();
    m_laidOutOuterSize = outer.size();
    const int windowWidth = PixelsToTwips(outer.width(), dpi);
    const int windowHeight = PixelsToTwips(outer.height(), dpi);

    // Each step stands alone: one that would give a negative size is skipped, the rest still run.
    if (const int width = windowWidth - kListWidthAllowance; width >= 0)
        m_listWidthTwips = width;
    if (const int height = windowHeight - kListHeightAllowance; height >= 0)
        m_listHeightTwips = height;
    m_list->setGeometry(TwipsRect(kListLeft, kListTop, m_listWidthTwips, m_listHeightTwips, dpi));

    m_columns->layOut(m_listWidthTwips);
}

void ResultsWindow::closeEvent(QCloseEvent* event)
{
    event->accept();
    quitProgram();
}

void ResultsWindow::quitProgram()
{
    // The results window is never closed while the program goes on, also when the main window is
    // hidden and so would not end it by itself.
    QCoreApplication::quit();
}

void ResultsWindow::onRowCheckToggled(int row, bool checked)
{
    if (row >= 0)
        m_model->setFileChecked(static_cast<std::size_t>(row), checked);
}

void ResultsWindow::onDeleteClicked()
{
    if (m_model->isUpdating())
        return;
    // Files inside protected folders stay; when a group would lose every copy the user says.
    const ResultsActions::DeletePlan plan = m_actions->planDelete(m_model->checkedRows());
    if (!plan.proceed)
        return;
    const std::vector<std::size_t>& checked = plan.going;

    // Each path once, from its last checked row, in the order of those rows.
    std::vector<std::size_t> lastRows;
    {
        std::unordered_set<std::uint32_t> seen;
        seen.reserve(checked.size());
        for (auto it = checked.rbegin(); it != checked.rend(); ++it) {
            if (seen.insert(m_model->pathIdOf(*it)).second)
                lastRows.push_back(*it);
        }
        std::reverse(lastRows.begin(), lastRows.end());
    }
    QStringList paths;
    paths.reserve(static_cast<qsizetype>(lastRows.size()));
    for (const std::size_t row : lastRows)
        paths.append(m_model->pathText(row));

    RecycleBinResult moved;
    m_dialogs->describeNextMove(DescribeGoingFiles(m_model->list(), lastRows));
    if (!paths.isEmpty())
        moved = SendToRecycleBin(paths, *m_recycleBin);
    ResultsModel::Shading shading = m_model->shading();
    m_actions->noteDeleted(moved, removeCheckedRowsOfGoneFiles(checked), std::move(shading));
    m_model->resetColors(ColorGroup::White);
}

std::vector<ResultsModel::RowRecord>
ResultsWindow::removeCheckedRowsOfGoneFiles(const std::vector<std::size_t>& checkedPositions)
{
    // Whatever the trash reported, a row goes exactly when its file is no longer on disk.
    std::unordered_map<std::uint32_t, bool> gone;
    std::vector<std::size_t> remove;
    for (const std::size_t row : checkedPositions) {
        const std::uint32_t id = m_model->pathIdOf(row);
        auto it = gone.find(id);
        if (it == gone.end())
            it = gone.emplace(id, !FileExists(m_model->pathOf(row))).first;
        if (it->second)
            remove.push_back(row);
    }
    std::vector<ResultsModel::RowRecord> removed = m_model->rowRecords(remove);
    m_model->removePositions(remove);
    return removed;
}

void ResultsWindow::onBackClicked()
{
    if (!m_mainWindow || isMinimized())
        return;
    if (isMaximized()) {
        m_mainWindow->setWindowState((m_mainWindow->windowState() & ~Qt::WindowMinimized) |
                                     Qt::WindowMaximized);
        m_mainWindow->show();
        hide();
        return;
    }
    m_mainWindow->setWindowState(
        m_mainWindow->windowState() &
        ~(Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen));
    m_mainWindow->show();
    hide();
    m_mainWindow->move(pos());
    m_mainWindow->resize(size());
}

void ResultsWindow::onClearChecksClicked()
{
    m_model->clearChecks();
}

} // namespace tunesift
