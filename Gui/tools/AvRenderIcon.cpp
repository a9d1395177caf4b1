// Build tool: renders one SVG icon source to a square raster image of the
// given size. The output format follows the file name's extension (".png" or
// ".ico"), so the program's resource names can keep the forms they are known by.
//
//     av_render_icon <source.svg> <output> <size>

#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>

int main(int argc, char** argv)
{
    QGuiApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    bool sizeOk = false;
    const int size = arguments.size() == 4 ? arguments.at(3).toInt(&sizeOk) : 0;
    if (!sizeOk || size <= 0) {
        std::fprintf(stderr, "usage: av_render_icon <source.svg> <output> <size>\n");
        return 2;
    }

    QSvgRenderer renderer(arguments.at(1));
    if (!renderer.isValid()) {
        std::fprintf(stderr, "av_render_icon: cannot read %s\n", qPrintable(arguments.at(1)));
        return 1;
    }
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter, QRectF(0, 0, size, size));
    }

    QImageWriter writer(arguments.at(2));
    if (!writer.write(image)) {
        std::fprintf(stderr, "av_render_icon: cannot write %s: %s\n", qPrintable(arguments.at(2)),
            qPrintable(writer.errorString()));
        return 1;
    }
    return 0;
}
