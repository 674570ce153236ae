#include "tools/icons/icon_file.h"

#include <QGuiApplication>
#include <QImage>

#include <cstdio>
#include <cstdlib>

int WriteIconFile(int argc, char** argv, const std::function<void(QImage&)>& paint)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s SIZE FILE.png\n", argv[0]);
        return 2;
    }
    const int size = std::atoi(argv[1]);
    if (size < 16 || size > 1024) {
        std::fprintf(stderr, "%s: size %s is not between 16 and 1024\n", argv[0], argv[1]);
        return 2;
    }
    // Pixmaps need a GUI application, but never a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    paint(image);
    if (!image.save(QString::fromLocal8Bit(argv[2]), "PNG")) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[2]);
        return 1;
    }
    return 0;
}
