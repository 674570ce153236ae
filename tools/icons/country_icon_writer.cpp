// Writes the country wizard's desktop icon: the same drawing as its window icon.
#include <QIcon>
#include <QImage>
#include <QPainter>

#include "country/wizard/wizard_art.h"
#include "tools/icons/icon_file.h"

int main(int argc, char** argv)
{
    return WriteIconFile(argc, argv, [](QImage& image) {
        const QPixmap pixmap = CountryWindowIcon().pixmap(image.width(), image.height());
        QPainter painter(&image);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawPixmap(image.rect(), pixmap);
    });
}
