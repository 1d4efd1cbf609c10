#include "ui/results/cursorfile.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QPixmap>
#include <cstdint>

namespace tunesift {

namespace {

// A .cur file starts like an icon file: reserved 0, type 2, image count, then 16-byte entries
// whose bytes 4-5 and 6-7 are the hot spot's x and y (little-endian).
constexpr qsizetype kHeaderSize = 6;
constexpr qsizetype kEntrySize = 16;

std::uint16_t readLe16(const QByteArray& bytes, qsizetype offset)
{
    return static_cast<std::uint16_t>(static_cast<std::uint8_t>(bytes[offset]) |
                                      (static_cast<std::uint8_t>(bytes[offset + 1]) << 8));
}

} // namespace

std::optional<QCursor> LoadCursorFile(const QString& path)
{
    QFile file(path);
    // A cursor file is a few kilobytes; anything large is not one.
    if (!file.open(QIODevice::ReadOnly) || file.size() > 1024 * 1024)
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    if (bytes.size() < kHeaderSize + kEntrySize || readLe16(bytes, 0) != 0 ||
        readLe16(bytes, 2) != 2 || readLe16(bytes, 4) == 0)
        return std::nullopt;
    const int hotX = readLe16(bytes, kHeaderSize + 4);
    const int hotY = readLe16(bytes, kHeaderSize + 6);

    QBuffer buffer;
    buffer.setData(bytes);
    QImageReader reader(&buffer, "cur");
    QImage image = reader.read();
    if (image.isNull())
        return std::nullopt;
    const QPixmap pixmap = QPixmap::fromImage(image);
    return QCursor(pixmap, std::min(hotX, pixmap.width() - 1), std::min(hotY, pixmap.height() - 1));
}

} // namespace tunesift
