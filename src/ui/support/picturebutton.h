#pragma once

#include <QAbstractButton>
#include <QString>

class QSvgRenderer;

namespace tunesift {

// A push button that shows a picture carrying its label (white background, no caption). One
// press emits clicked() once; the button never stays down.
class PictureButton : public QAbstractButton
{
    Q_OBJECT
public:
    // picture: an SVG resource path such as ":/pictures/find.svg"; label: the text the picture
    // shows, used as accessible name.
    PictureButton(const QString& picture, const QString& label, QWidget* parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    QSvgRenderer* m_renderer;
    bool m_hovered = false;
};

} // namespace tunesift
