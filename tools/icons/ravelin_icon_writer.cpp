// Writes the update wizard's desktop icon: its wizard picture on a rounded tile.
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include "ravelin/wizard/wizard_picture.h"
#include "tools/icons/icon_file.h"

int main(int argc, char** argv)
{
    return WriteIconFile(argc, argv, [](QImage& image) {
        // The picture sets a clip of its own, so it is drawn whole first and rounded afterwards.
        QImage picture(image.size(), QImage::Format_ARGB32_Premultiplied);
        {
            QPainter painter(&picture);
            wiz_DrawPicture(&painter, QRectF(picture.rect()));
        }
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF tile(image.rect());
        QPainterPath rounded;
        rounded.addRoundedRect(tile, tile.width() * 0.18, tile.height() * 0.18);
        painter.setClipPath(rounded);
        painter.drawImage(0, 0, picture);
    });
}
