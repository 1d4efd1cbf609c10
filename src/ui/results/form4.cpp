#include "ui/results/form4.h"

#include "platform/recyclingbin.h"
#include "search/pathops.h"
#include "search/searchrun.h"
#include "ui/results/recyclebindialogs.h"
#include "ui/results/resultsmodel.h"
#include "ui/support/artwork.h"
#include "ui/support/cursorfile.h"
#include "ui/support/picturebutton.h"
#include "ui/support/twips.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QSvgRenderer>
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
constexpr int kListHeightAllowance = 1900;
constexpr int kFilenameColumnAllowance = 3700;
constexpr std::array<int, 4> kFixedColumnWidths{1000, 700, 500, 1100};

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

Form4::Form4(SearchSession& session, QWidget* parent)
    : QWidget(parent, Qt::Window), m_session(session)
{
    initResultsResources();
    InitArtwork();
    Form_Load();
}

Form4::~Form4() = default;

void Form4::Form_Load()
{
    setObjectName(QStringLiteral("Form4"));
    setWindowTitle(QStringLiteral("Tunesift 7.0"));
    QPalette background = palette();
    background.setColor(QPalette::Window, Qt::white);
    setPalette(background);
    setAutoFillBackground(true);

    const double dpi = LogicalDpi(this);
    resize(TwipsToPixels(kDesignClientWidth, dpi), TwipsToPixels(kDesignClientHeight, dpi));

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    const QRect bannerArea = TwipsRect(-60, -60, 3645, 1380, dpi);
    Image1->setGeometry(bannerArea);
    Image1->setPixmap(renderPicture(QStringLiteral(":/artwork/banner.svg"), bannerArea.size(),
                                    devicePixelRatioF()));

    Check2 = new PictureButton(QStringLiteral(":/results/back.svg"), QStringLiteral("Back"), this);
    Check2->setObjectName(QStringLiteral("Check2"));
    Check2->setGeometry(TwipsRect(3720, 120, 2175, 1095, dpi));

    Check1 = new PictureButton(QStringLiteral(":/results/delete.svg"),
                               QStringLiteral("Delete checked"), this);
    Check1->setObjectName(QStringLiteral("Check1"));
    Check1->setGeometry(TwipsRect(6000, 120, 2175, 1095, dpi));
    Check1->setToolTip(QStringLiteral("Delete checked files."));

    Check3 = new PictureButton(QStringLiteral(":/results/clear.svg"),
                               QStringLiteral("Clear checkmarks"), this);
    Check3->setObjectName(QStringLiteral("Check3"));
    Check3->setGeometry(TwipsRect(8280, 120, 2175, 1095, dpi));
    Check3->setToolTip(QStringLiteral("Clear out all checkmarks."));

    m_model = new ResultsModel(m_session.results(), this);
    ListView1 = new QTreeView(this);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setGeometry(
        TwipsRect(kListLeft, kListTop, m_listWidthTwips, m_listHeightTwips, dpi));
    ListView1->setFont(QFont(QStringLiteral("Arial"), 9, QFont::Bold));
    ListView1->setModel(m_model);
    ListView1->setRootIsDecorated(false);
    ListView1->setItemsExpandable(false);
    // Every row is one line, so the view need not measure 100,000 rows to scroll.
    ListView1->setUniformRowHeights(true);
    ListView1->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setAllColumnsShowFocus(true);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // A row's position is its index into the colour table: the list is never sorted.
    ListView1->setSortingEnabled(false);
    QHeaderView* header = ListView1->header();
    header->setSectionsClickable(false);
    header->setSectionsMovable(false);
    header->setStretchLastSection(false);
    header->setMinimumSectionSize(0);
    header->setSectionResizeMode(QHeaderView::Interactive);

    setTabOrder(Check2, Check1);
    setTabOrder(Check1, Check3);
    setTabOrder(Check3, ListView1);

    connect(Check1, &QAbstractButton::clicked, this, &Form4::Check1_Click);
    connect(Check2, &QAbstractButton::clicked, this, &Form4::Check2_Click);
    connect(Check3, &QAbstractButton::clicked, this, &Form4::Check3_Click);
    connect(m_model, &ResultsModel::itemCheck, this, &Form4::ListView1_ItemCheck);

    m_dialogs = std::make_unique<RecycleBinDialogs>(this);
    m_recycleBin = m_dialogs.get();

    m_handCursor = HandCursor(QCoreApplication::applicationDirPath());
    applyCursors();

    Form_Resize();
}

void Form4::applyCursors()
{
    for (QWidget* widget :
         std::initializer_list<QWidget*>{Check1, Check2, Check3, ListView1, ListView1->viewport()})
        widget->setCursor(m_handCursor);
    setCursor(Qt::ArrowCursor);
    Image1->setCursor(Qt::ArrowCursor);
}

void Form4::setMainWindow(QWidget* form1)
{
    m_form1 = form1;
}

void Form4::beginResultsUpdate()
{
    m_model->beginResultsUpdate();
}

void Form4::endResultsUpdate()
{
    m_model->endResultsUpdate();
}

void Form4::takePlaceOf(QWidget* form1)
{
    if (form1) {
        if (form1->isMaximized()) {
            setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowMaximized);
        } else if (!form1->isMinimized()) {
            setWindowState(windowState() &
                           ~(Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen));
            resize(form1->size());
            move(form1->pos());
        }
    }
    show();
    raise();
    activateWindow();
}

void Form4::setRecycleBinHost(RecycleBinHost* host)
{
    m_recycleBin = host ? host : m_dialogs.get();
}

void Form4::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    Form_Resize();
}

void Form4::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // The window frame, part of the outer size the layout works from, exists only once shown.
    Form_Resize();
}

void Form4::moveEvent(QMoveEvent* event)
{
    QWidget::moveEvent(event);
    Form_Resize();
}

void Form4::Form_Resize()
{
    const double dpi = LogicalDpi(this);
    const QRect outer = frameGeometry();
    const int windowWidth = PixelsToTwips(outer.width(), dpi);
    const int windowHeight = PixelsToTwips(outer.height(), dpi);

    // Each step stands alone: one that would give a negative size is skipped, the rest still run.
    if (const int width = windowWidth - kListWidthAllowance; width >= 0)
        m_listWidthTwips = width;
    if (const int height = windowHeight - kListHeightAllowance; height >= 0)
        m_listHeightTwips = height;
    ListView1->setGeometry(
        TwipsRect(kListLeft, kListTop, m_listWidthTwips, m_listHeightTwips, dpi));

    if (const int width = m_listWidthTwips - kFilenameColumnAllowance; width >= 0)
        ListView1->setColumnWidth(0, TwipsToPixels(width, dpi));
    for (std::size_t k = 0; k < kFixedColumnWidths.size(); ++k)
        ListView1->setColumnWidth(static_cast<int>(k + 1),
                                  TwipsToPixels(kFixedColumnWidths[k], dpi));
}

void Form4::closeEvent(QCloseEvent* event)
{
    event->accept();
    Form_Unload();
}

void Form4::Form_Unload()
{
    // The results window is never closed while the program goes on, also when the main window is
    // hidden and so would not end it by itself.
    QCoreApplication::quit();
}

void Form4::ListView1_ItemCheck(int row, bool checked)
{
    if (row >= 0)
        m_model->SetCheckedForFile(static_cast<std::size_t>(row), checked);
}

void Form4::Check1_Click()
{
    if (m_model->isUpdating())
        return;
    const std::vector<std::size_t> checked = m_model->checkedRows();

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

    if (!paths.isEmpty())
        SendToRecycleBin(paths, *m_recycleBin);
    RemoveCheckedRows(checked);
    m_model->resetColors(ColorGroup::White);
}

void Form4::RemoveCheckedRows(const std::vector<std::size_t>& checkedPositions)
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
    m_model->removePositions(remove);
}

void Form4::Check2_Click()
{
    if (!m_form1 || isMinimized())
        return;
    if (isMaximized()) {
        m_form1->setWindowState((m_form1->windowState() & ~Qt::WindowMinimized) |
                                Qt::WindowMaximized);
        m_form1->show();
        hide();
        return;
    }
    m_form1->setWindowState(m_form1->windowState() &
                            ~(Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen));
    m_form1->show();
    hide();
    m_form1->move(pos());
    m_form1->resize(size());
}

void Form4::Check3_Click()
{
    m_model->clearChecks();
}

} // namespace tunesift
