// Build tool: renders one SVG source to a PNG at a scale (1 or 2), so that the
// program's pictures are made from sources kept in the repository.
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4) {
        std::fprintf(stderr, "usage: svgtopng <in.svg> <out.png> <scale>\n");
        return 2;
    }
    QSvgRenderer renderer(args.at(1));
    bool ok = false;
    const int scale = args.at(3).toInt(&ok);
    if (!renderer.isValid() || !ok || scale < 1 || scale > 4) {
        std::fprintf(stderr, "svgtopng: cannot read %s\n", qPrintable(args.at(1)));
        return 1;
    }
    const QSize size = renderer.defaultSize() * scale;
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter);
    painter.end();
    if (!image.save(args.at(2), "PNG")) {
        std::fprintf(stderr, "svgtopng: cannot write %s\n", qPrintable(args.at(2)));
        return 1;
    }
    return 0;
}
