// Writes the application icon into a hicolor icon theme folder, drawn through the program's own
// painter code at each size (never a small bitmap scaled up), plus an SVG from the same code.
//
//   nms-icon-export THEME_DIR ICON_NAME SIZE...
//
// writes THEME_DIR/SIZExSIZE/apps/ICON_NAME.png for each SIZE and THEME_DIR/scalable/apps/ICON_NAME.svg.

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgGenerator>

#include <cstdio>

#include "shell/Artwork.h"

namespace {

bool writePng(const QString& theme, const QString& name, int size)
{
    const QString folder = QStringLiteral("%1/%2x%2/apps").arg(theme).arg(size);
    if (!QDir().mkpath(folder))
        return false;
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        nms::Artwork::PaintApplicationIcon(p, QRectF(0, 0, size, size));
    }
    return image.save(QStringLiteral("%1/%2.png").arg(folder, name), "PNG");
}

bool writeSvg(const QString& theme, const QString& name)
{
    const QString folder = theme + QStringLiteral("/scalable/apps");
    if (!QDir().mkpath(folder))
        return false;
    const QString file = QStringLiteral("%1/%2.svg").arg(folder, name);
    QSvgGenerator svg;
    svg.setFileName(file);
    svg.setSize(QSize(32, 32));
    svg.setViewBox(QRectF(0, 0, 32, 32));
    svg.setTitle(QStringLiteral("Orbilane NMS"));
    svg.setDescription(QStringLiteral("A transmitter mast sending waves"));
    QPainter p;
    if (!p.begin(&svg))
        return false;
    nms::Artwork::PaintApplicationIcon(p, QRectF(0, 0, 32, 32));
    return p.end() && QFileInfo(file).size() > 0;
}

} // namespace

int main(int argc, char* argv[])
{
    // Only images are painted: no screen is needed, so a build without a display works too.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 4) {
        std::fprintf(stderr, "usage: nms-icon-export THEME_DIR ICON_NAME SIZE...\n");
        return 2;
    }
    const QString theme = args[1];
    const QString name = args[2];
    for (const QString& text : args.mid(3)) {
        bool number = false;
        const int size = text.toInt(&number);
        if (!number || size < 8 || size > 1024) {
            std::fprintf(stderr, "nms-icon-export: '%s' is not an icon size\n", qPrintable(text));
            return 2;
        }
        if (!writePng(theme, name, size)) {
            std::fprintf(stderr, "nms-icon-export: cannot write the %d px icon under %s\n", size, qPrintable(theme));
            return 1;
        }
    }
    if (!writeSvg(theme, name)) {
        std::fprintf(stderr, "nms-icon-export: cannot write the scalable icon under %s\n", qPrintable(theme));
        return 1;
    }
    return 0;
}
