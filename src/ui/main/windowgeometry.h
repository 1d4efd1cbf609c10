#pragma once

#include <QObject>
#include <QRect>
#include <QSize>
#include <optional>

class QWidget;

namespace tunesift {

class SettingsStore;

// The main window's geometry: the layout rule that fits the folder frame, the folder list, the
// progress bar and the progress line under it to the window's outer size, and the window's state
// and outer size kept in the settings store ("WindowState", "FormWidth", "FormHeight") and
// restored at start.
//
// The stored size is the outer size, frame included, in twips. A window manager puts its frame on
// only once the window is shown, so until then the frame last seen (nothing at first) stands in
// for it, and a restored size is corrected as soon as the real frame is known. The object watches
// the window's own events (resize, move, state change, show) and needs no calls from it after
// restore().
class WindowGeometry : public QObject
{
    Q_OBJECT
public:
    // The controls the layout rule places. Rectangles are kept in twips, as the rule computes
    // them; list is placed inside frame, the others in the window.
    struct Controls
    {
        QWidget* frame = nullptr;
        QWidget* list = nullptr;
        QWidget* progressBar = nullptr;
        QWidget* progressText = nullptr;
    };

    WindowGeometry(QWidget* window, SettingsStore& settings, Controls controls);

    // Rectangles of the layout in twips, as the layout rule last set them.
    QRect listTwips() const { return m_listTwips; }
    QRect frameTwips() const { return m_frameTwips; }
    QRect progressTwips() const { return m_progressTwips; }
    QRect progressTextTwips() const;

    // The least client height at which the list keeps room for its header and two folders.
    int minimumClientHeight() const;

    // Start-up: state, outer width and outer height from the settings (the design size for
    // anything missing or unusable), each change laid out and stored at once; the window is kept
    // on its screen.
    void restore();

    // The layout rule, then the state and the outer size of the normal window stored.
    void layOutAndStore();

signals:
    // The controls have their places; the window places what depends on them.
    void laidOut();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void applyTwips();
    // The frame's share of the outer size, as far as it is known.
    QSize frameExtra() const;
    QSize normalClientSize() const;
    // Remembers the frame once the window manager has put it on, and takes it off a stored outer
    // size restored before it was known.
    void noteFrame();
    void setOuterWidthTwips(int twips);
    void setOuterHeightTwips(int twips);

    QWidget* m_window;
    SettingsStore& m_settings;
    Controls m_controls;
    QRect m_listTwips;
    QRect m_frameTwips;
    QRect m_progressTwips;
    // The frame last seen around the normal window (nothing before the window manager framed it).
    QSize m_knownFrame{0, 0};
    // The restored outer size in pixels (-1: not restored) until the frame is known.
    std::optional<QSize> m_pendingOuter;
};

} // namespace tunesift
