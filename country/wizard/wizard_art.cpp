#include "country/wizard/wizard_art.h"

#include "country/wizard/dialog_units.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QRadialGradient>

#include <algorithm>

namespace {

const int kPictureWidthUnits = 103;
const int kPictureHeightUnits = 93;

// Meridians and parallels of a globe centred in square, clipped to its disc.
void PaintGlobe(QPainter& painter, const QRectF& square, double lineWidth)
{
    painter.save();
    QRadialGradient sea(square.center() - QPointF(square.width() * 0.18, square.height() * 0.18),
                        square.width() * 0.75);
    sea.setColorAt(0.0, QColor(0x9f, 0xdc, 0xf5));
    sea.setColorAt(1.0, QColor(0x1b, 0x6f, 0xa8));
    painter.setPen(QPen(QColor(255, 255, 255, 230), lineWidth * 1.4));
    painter.setBrush(sea);
    painter.drawEllipse(square);

    QPainterPath disc;
    disc.addEllipse(square);
    painter.setClipPath(disc);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(255, 255, 255, 170), lineWidth));
    for (double share : {0.2, 0.55, 0.85}) {
        const double width = square.width() * share;
        painter.drawEllipse(QRectF(square.center().x() - width / 2, square.top(), width, square.height()));
    }
    painter.drawLine(QPointF(square.center().x(), square.top()), QPointF(square.center().x(), square.bottom()));
    for (double share : {0.2, 0.35, 0.5, 0.65, 0.8}) {
        const double y = square.top() + square.height() * share;
        painter.drawLine(QPointF(square.left(), y), QPointF(square.right(), y));
    }
    painter.restore();
}

}  // namespace

void PaintWizardPicture(QPainter& painter, const QRectF& area)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient ground(area.topLeft(), area.bottomLeft());
    ground.setColorAt(0.0, QColor(0x0b, 0x2f, 0x5c));
    ground.setColorAt(1.0, QColor(0x16, 0x7a, 0x8a));
    painter.fillRect(area, ground);

    const double unit = std::min(area.width(), area.height()) / 100.0;
    const double globeSize = unit * 58;
    const QRectF globe(area.center().x() - globeSize / 2, area.top() + area.height() * 0.1, globeSize, globeSize);

    // The telephone line from the modem up to the world it is set for.
    const QRectF modem(area.left() + area.width() * 0.14, area.top() + area.height() * 0.74, area.width() * 0.72,
                       area.height() * 0.13);
    QPainterPath cord(QPointF(modem.right() - unit * 8, modem.top()));
    cord.cubicTo(QPointF(area.right() - unit * 2, area.top() + area.height() * 0.6),
                 QPointF(globe.right() + unit * 8, globe.bottom() - unit * 4),
                 QPointF(globe.right() - unit * 4, globe.bottom() - unit * 10));
    painter.setPen(QPen(QColor(0xf2, 0xc1, 0x4e), unit * 1.6, Qt::SolidLine, Qt::RoundCap));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(cord);

    PaintGlobe(painter, globe, unit * 0.8);

    QLinearGradient case_(modem.topLeft(), modem.bottomLeft());
    case_.setColorAt(0.0, QColor(0xe8, 0xec, 0xf0));
    case_.setColorAt(1.0, QColor(0x8a, 0x96, 0xa3));
    painter.setPen(QPen(QColor(0x20, 0x2a, 0x36), unit * 0.6));
    painter.setBrush(case_);
    painter.drawRoundedRect(modem, unit * 3, unit * 3);
    const QColor lights[] = {QColor(0x3c, 0xd0, 0x5a), QColor(0x3c, 0xd0, 0x5a), QColor(0xf2, 0xa1, 0x2e),
                             QColor(0x3c, 0xd0, 0x5a), QColor(0x55, 0x60, 0x6b)};
    const double lightSize = unit * 3.2;
    for (int i = 0; i < 5; ++i) {
        const QPointF centre(modem.left() + modem.width() * (0.2 + 0.12 * i), modem.center().y());
        painter.setPen(Qt::NoPen);
        painter.setBrush(lights[i]);
        painter.drawEllipse(centre, lightSize / 2, lightSize / 2);
    }
    painter.restore();
}

QIcon CountryWindowIcon()
{
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF tile(0, 0, size, size);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0x0b, 0x2f, 0x5c));
        painter.drawRoundedRect(tile, size * 0.18, size * 0.18);
        const double margin = size * 0.14;
        PaintGlobe(painter, tile.adjusted(margin, margin, -margin, -margin), std::max(1.0, size / 24.0));
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

CWizardPicture::CWizardPicture(QWidget* parent) : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
}

QSize CWizardPicture::sizeHint() const
{
    return DialogUnitsToPixels(font(), kPictureWidthUnits, kPictureHeightUnits);
}

QSize CWizardPicture::minimumSizeHint() const
{
    return sizeHint();
}

void CWizardPicture::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    PaintWizardPicture(painter, QRectF(rect()));
}
