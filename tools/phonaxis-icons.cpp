// phonaxis-icons: renders the application's SVG icon as the PNG sizes of
// the hicolor icon theme (build time).
//   phonaxis-icons ICON.svg OUT_DIR SIZE...
// writes OUT_DIR/SIZExSIZE/apps/phonaxis.png for each SIZE.
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: phonaxis-icons ICON.svg OUT_DIR SIZE...\n");
        return 2;
    }
    // No display is needed to draw into an image.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    QSvgRenderer renderer(QString::fromLocal8Bit(argv[1]));
    if (!renderer.isValid()) {
        std::fprintf(stderr, "phonaxis-icons: \"%s\" is not an SVG image\n", argv[1]);
        return 1;
    }
    for (int i = 3; i < argc; ++i) {
        const int size = QString::fromLatin1(argv[i]).toInt();
        if (size < 8 || size > 1024) {
            std::fprintf(stderr, "phonaxis-icons: no icon of %s pixels\n", argv[i]);
            return 2;
        }
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter);
        painter.end();
        const QString folder =
            QStringLiteral("%1/%2x%2/apps").arg(QString::fromLocal8Bit(argv[2])).arg(size);
        if (!QDir().mkpath(folder) || !image.save(folder + QStringLiteral("/phonaxis.png"))) {
            std::fprintf(stderr, "phonaxis-icons: %s/phonaxis.png could not be written\n",
                         folder.toLocal8Bit().constData());
            return 1;
        }
    }
    return 0;
}
