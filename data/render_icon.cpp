// Renders the program's SVG icon to square PNG files, one per size, for the hicolor icon theme.
// Usage: render_icon SVG OUTDIR NAME SIZE...   (writes OUTDIR/SIZExSIZE/NAME.png)

#include <QDir>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>

int main(int argc, char* argv[])
{
    if (argc < 5) {
        std::fputs("usage: render_icon SVG OUTDIR NAME SIZE...\n", stderr);
        return 2;
    }
    QSvgRenderer svg(QString::fromLocal8Bit(argv[1]));
    if (!svg.isValid()) {
        std::fprintf(stderr, "render_icon: cannot read %s\n", argv[1]);
        return 1;
    }
    const QDir out(QString::fromLocal8Bit(argv[2]));
    const QString name = QString::fromLocal8Bit(argv[3]);
    for (int k = 4; k < argc; ++k) {
        const int size = QString::fromLatin1(argv[k]).toInt();
        if (size <= 0) {
            std::fprintf(stderr, "render_icon: bad size %s\n", argv[k]);
            return 2;
        }
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        svg.render(&painter);
        painter.end();
        const QString folder = QStringLiteral("%1x%1").arg(size);
        if (!out.mkpath(folder) ||
            !image.save(out.filePath(folder + QLatin1Char('/') + name + QStringLiteral(".png")))) {
            std::fprintf(stderr, "render_icon: cannot write the %d pixel icon\n", size);
            return 1;
        }
    }
    return 0;
}
