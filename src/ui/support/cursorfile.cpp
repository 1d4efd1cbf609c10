#include "ui/support/cursorfile.h"

#include "files/pathops.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QPixmap>

namespace tunesift {

namespace {

// Cursor files are a few kilobytes; anything far larger is not one.
constexpr qint64 kMaxCursorFileSize = 1 << 20;

// Layout of the file header: reserved (u16), type (u16: 1 icon, 2 cursor), image count (u16),
// then 16-byte directory entries. In a cursor's entry the two u16 fields at offsets 4 and 6 of
// the entry hold the hot spot's x and y instead of colour planes and bit count.
constexpr int kHeaderSize = 6;
constexpr int kEntrySize = 16;
constexpr quint16 kTypeCursor = 2;

quint16 readU16(const QByteArray& bytes, int offset)
{
    return static_cast<quint16>(static_cast<quint8>(bytes[offset]) |
                                (static_cast<quint8>(bytes[offset + 1]) << 8));
}

} // namespace

std::optional<QCursor> LoadCursorFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxCursorFileSize)
        return std::nullopt;
    QByteArray bytes = file.readAll();
    if (bytes.size() < kHeaderSize + kEntrySize || readU16(bytes, 0) != 0)
        return std::nullopt;

    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "ico");
    const QImage image = reader.read();
    if (image.isNull())
        return std::nullopt;

    int hotX = -1; // -1: QCursor takes the centre
    int hotY = -1;
    if (readU16(bytes, 2) == kTypeCursor) {
        hotX = readU16(bytes, kHeaderSize + 4);
        hotY = readU16(bytes, kHeaderSize + 6);
        if (hotX >= image.width() || hotY >= image.height())
            hotX = hotY = -1;
    }
    return QCursor(QPixmap::fromImage(image), hotX, hotY);
}

QCursor HandCursor(const QString& programFolder)
{
    const QString path =
        QDir::toNativeSeparators(programFolder) + QDir::separator() + QStringLiteral("HAND-M.CUR");
    if (FileExists(path.toStdString())) {
        if (std::optional<QCursor> cursor = LoadCursorFile(path))
            return *cursor;
    }
    return QCursor(Qt::PointingHandCursor);
}

} // namespace tunesift
