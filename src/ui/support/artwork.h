#pragma once

#include <QIcon>
#include <QPixmap>
#include <QSize>
#include <QString>
#include <QWidget>

class QSvgRenderer;

namespace tunesift {

// The program's pictures, drawn as SVG and compiled into the program.
namespace artwork {
inline constexpr char kBanner[] = ":/artwork/banner.svg";
inline constexpr char kAddFolder[] = ":/artwork/addfolder.svg";
inline constexpr char kFindDupes[] = ":/artwork/finddupes.svg";
inline constexpr char kClearList[] = ":/artwork/clearlist.svg";
inline constexpr char kStopFind[] = ":/artwork/stopfind.svg";
inline constexpr char kFolderOpen[] = ":/artwork/folderopen.svg";
inline constexpr char kAppIcon[] = ":/artwork/tunesift.svg";
} // namespace artwork

// Registers the pictures; they live in a static library, whose resources are not registered on
// their own. Safe to call more than once.
void InitArtwork();

// The picture rendered at the given size (transparent where the picture leaves it).
QPixmap SvgPixmap(const QString& path, QSize size);
// An icon holding the picture at the usual icon sizes, so it stays sharp in title bars and lists.
QIcon SvgIcon(const QString& path);

// A picture that fills its rectangle and takes neither focus nor clicks.
class SvgPicture : public QWidget
{
    Q_OBJECT
public:
    explicit SvgPicture(const QString& path, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QSvgRenderer* m_renderer;
};

} // namespace tunesift
