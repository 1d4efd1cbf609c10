#include "ui/main/windowgeometry.h"

#include "mp3/audioprint.h"
#include "platform/settings.h"
#include "ui/support/twips.h"
#include "ui/support/windowplacement.h"

#include <QEvent>
#include <QWidget>
#include <algorithm>

namespace tunesift {

namespace {

// The window as designed, in twips.
constexpr int kDesignClientWidth = 10890;
constexpr int kDesignClientHeight = 6240;

// The folder frame starts below the last criterion: the sixth, 270 twips lower than with five,
// or the seventh (Similar Audio, where the build has it) one row of 240 further down. Under the
// progress bar a line of text says what the search does; the list gives up its height for it.
int frameTop()
{
    return AudioPrintsAvailable() ? 1830 : 1590;
}
constexpr int kProgressLineHeight = 300;
// The list's height below which the layout rule stops (the window's height less this), and the
// least height the window keeps for it: a header and two folders.
int listHeightAllowance()
{
    return 2970 + kProgressLineHeight + (frameTop() - 1590);
}
constexpr int kMinimumListHeight = 1500;
// The progress bar's top above the window's bottom edge.
constexpr int kProgressBarRise = 920 + kProgressLineHeight;
constexpr int kProgressBarHeight = 375;
constexpr int kProgressTextGap = 30;
constexpr int kProgressTextHeight = 270;

// A window closed minimised opens normal: a program started minimised is easily taken for one
// that did not start.
Qt::WindowStates windowStateFromStored(std::optional<qint16> stored)
{
    return stored.value_or(0) == 2 ? Qt::WindowMaximized : Qt::WindowNoState;
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

WindowGeometry::WindowGeometry(QWidget* window, SettingsStore& settings, Controls controls)
    : QObject(window), m_window(window), m_settings(settings), m_controls(controls),
      m_listTwips(120, 240, 8295, 1695 - kProgressLineHeight),
      m_frameTwips(120, frameTop(), 8535, 2295 - kProgressLineHeight - (frameTop() - 1590)),
      m_progressTwips(360, 4920 - kProgressLineHeight, 3015, kProgressBarHeight)
{
    const double dpi = LogicalDpi(m_window);
    m_window->resize(TwipsToPixels(kDesignClientWidth, dpi),
                     TwipsToPixels(kDesignClientHeight, dpi));
    applyTwips();
    m_window->installEventFilter(this);
}

QRect WindowGeometry::progressTextTwips() const
{
    return QRect(m_progressTwips.left(), m_progressTwips.bottom() + 1 + kProgressTextGap,
                 m_progressTwips.width(), kProgressTextHeight);
}

int WindowGeometry::minimumClientHeight() const
{
    return TwipsToPixels(listHeightAllowance() + kMinimumListHeight, LogicalDpi(m_window));
}

void WindowGeometry::applyTwips()
{
    const double dpi = LogicalDpi(m_window);
    const auto place = [dpi](QWidget* widget, const QRect& twips) {
        if (widget)
            widget->setGeometry(
                TwipsRect(twips.x(), twips.y(), twips.width(), twips.height(), dpi));
    };
    place(m_controls.frame, m_frameTwips);
    place(m_controls.list, m_listTwips);
    place(m_controls.progressBar, m_progressTwips);
    place(m_controls.progressText, progressTextTwips());
    emit laidOut();
}

void WindowGeometry::restore()
{
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
    const double dpi = LogicalDpi(m_window);
    const std::optional<int> storedWidth = storedSize(settingskeys::kFormWidth);
    const std::optional<int> storedHeight = storedSize(settingskeys::kFormHeight);
    if (storedWidth)
        setOuterWidthTwips(*storedWidth);
    else
        m_window->resize(TwipsToPixels(kDesignClientWidth, dpi), m_window->height());
    layOutAndStore();
    if (storedHeight)
        setOuterHeightTwips(*storedHeight);
    else
        m_window->resize(m_window->width(), TwipsToPixels(kDesignClientHeight, dpi));
    layOutAndStore();
    // Until the window manager has framed the window the stored outer size stands for the client
    // area; the frame is taken off once it is known (noteFrame).
    if (storedWidth || storedHeight)
        m_pendingOuter =
            QSize(storedWidth ? m_window->width() : -1, storedHeight ? m_window->height() : -1);
    // The state after the size: a window maximised first would keep the design size as the size
    // to return to.
    m_window->setWindowState(storedState);
    if (m_window->windowState() == Qt::WindowNoState)
        KeepOnScreen(m_window, frameExtra());
    // A hidden window gets its resize event only when shown: the layout runs here itself, so
    // that what is sized from the list at start takes the list as it will be.
    layOutAndStore();
}

void WindowGeometry::layOutAndStore()
{
    const double dpi = LogicalDpi(m_window);
    const QSize outer = m_window->size() + frameExtra();
    const int w = PixelsToTwips(outer.width(), dpi);
    const int h = PixelsToTwips(outer.height(), dpi);

    // Each step on its own: a size that would be negative is skipped, the rest still apply.
    if (w - 600 >= 0)
        m_listTwips.setWidth(w - 600);
    if (h - listHeightAllowance() >= 0)
        m_listTwips.setHeight(h - listHeightAllowance());
    m_frameTwips.setWidth(m_listTwips.width() + 260);
    m_frameTwips.setHeight(m_listTwips.height() + 380);
    m_progressTwips.moveLeft(m_frameTwips.left());
    m_progressTwips.setWidth(m_frameTwips.width());
    m_progressTwips.moveTop(h - kProgressBarRise);
    applyTwips();

    // The size stored is the outer size of the normal window, also while maximised or
    // minimised, so that the next start restores the size the window has when not maximised.
    const QSize normalOuter = normalClientSize() + frameExtra();
    m_settings.writeNumber(settingskeys::kWindowState, storedWindowState(m_window->windowState()));
    m_settings.writeNumber(settingskeys::kFormHeight, PixelsToTwips(normalOuter.height(), dpi));
    m_settings.writeNumber(settingskeys::kFormWidth, PixelsToTwips(normalOuter.width(), dpi));
}

QSize WindowGeometry::normalClientSize() const
{
    if (m_window->windowState() == Qt::WindowNoState)
        return m_window->size();
    const QSize normal = m_window->normalGeometry().size();
    return normal.isEmpty() ? m_window->size() : normal;
}

QSize WindowGeometry::frameExtra() const
{
    // Hidden, or shown but not yet framed by the window manager, the window has no frame of its
    // own to measure; the last one seen in the normal state stands in for it.
    if (m_window->isVisible() && m_window->windowState() == Qt::WindowNoState) {
        const QSize current = m_window->frameGeometry().size() - m_window->size();
        if (!current.isNull())
            return current;
    }
    return m_knownFrame;
}

void WindowGeometry::noteFrame()
{
    if (!m_window->isVisible() || m_window->windowState() != Qt::WindowNoState)
        return;
    const QSize current = m_window->frameGeometry().size() - m_window->size();
    if (current.isNull())
        return;
    m_knownFrame = current;
    if (!m_pendingOuter)
        return;
    const QSize outer = *m_pendingOuter;
    m_pendingOuter.reset();
    m_window->resize(
        outer.width() > 0 ? std::max(outer.width() - current.width(), 1) : m_window->width(),
        outer.height() > 0 ? std::max(outer.height() - current.height(), 1) : m_window->height());
    KeepOnScreen(m_window, current);
}

void WindowGeometry::setOuterWidthTwips(int twips)
{
    const int pixels = TwipsToPixels(twips, LogicalDpi(m_window)) - frameExtra().width();
    m_window->resize(std::max(pixels, 1), m_window->height());
}

void WindowGeometry::setOuterHeightTwips(int twips)
{
    const int pixels = TwipsToPixels(twips, LogicalDpi(m_window)) - frameExtra().height();
    m_window->resize(m_window->width(), std::max(pixels, 1));
}

bool WindowGeometry::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_window) {
        switch (event->type()) {
        case QEvent::Resize:
        case QEvent::WindowStateChange:
            noteFrame();
            layOutAndStore();
            break;
        case QEvent::Move: // the window manager's frame shows up as a move of the client area
        case QEvent::Show:
            noteFrame();
            break;
        default:
            break;
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace tunesift
