#include "ravelin/wizard/wizard_picture.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QWizardPage>

#include <cmath>

int wiz_DuX(const QWidget *pWidget, int nUnits)
{
    // The average width of the alphabet, as the platform's dialog units are defined.
    QFontMetricsF metrics(pWidget->font());
    double dCharWidth =
        metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) / 52.0;
    return static_cast<int>(std::ceil(nUnits * dCharWidth / 4.0));
}

int wiz_DuY(const QWidget *pWidget, int nUnits)
{
    QFontMetricsF metrics(pWidget->font());
    return static_cast<int>(std::ceil(nUnits * metrics.height() / 8.0));
}

namespace {

// The drawing is made in a fixed space of these proportions and scaled uniformly.
constexpr double kWidth = 300.0;
constexpr double kHeight = 250.0;

void drawBackground(QPainter &p)
{
    QLinearGradient sky(0, 0, 0, kHeight);
    sky.setColorAt(0.0, QColor(18, 44, 84));
    sky.setColorAt(1.0, QColor(6, 16, 36));
    p.fillRect(QRectF(0, 0, kWidth, kHeight), sky);

    // Faint circuit traces across the background.
    QPen trace(QColor(70, 120, 170, 70), 1.4);
    p.setPen(trace);
    for (int i = 0; i < 9; ++i) {
        double y = 18 + i * 27;
        QPainterPath path(QPointF(0, y));
        path.lineTo(40 + (i % 3) * 25, y);
        path.lineTo(60 + (i % 3) * 25, y + 12);
        path.lineTo(kWidth, y + 12);
        p.drawPath(path);
        p.setBrush(QColor(70, 120, 170, 90));
        p.drawEllipse(QPointF(60 + (i % 3) * 25, y + 12), 2.2, 2.2);
        p.setBrush(Qt::NoBrush);
    }
}

void drawModem(QPainter &p, double x, double y, int nLit)
{
    QRectF body(x, y, 92, 22);
    QLinearGradient shade(body.topLeft(), body.bottomLeft());
    shade.setColorAt(0.0, QColor(210, 216, 224));
    shade.setColorAt(1.0, QColor(140, 150, 165));
    p.setPen(QPen(QColor(40, 50, 65), 1));
    p.setBrush(shade);
    p.drawRoundedRect(body, 4, 4);
    for (int i = 0; i < 5; ++i) {
        QColor led = i < nLit ? QColor(90, 230, 120) : QColor(60, 80, 70);
        p.setBrush(led);
        p.setPen(Qt::NoPen);
        p.drawEllipse(QPointF(x + 12 + i * 11, y + 11), 2.6, 2.6);
    }
    p.setPen(QPen(QColor(90, 100, 115), 1));
    for (int i = 0; i < 4; ++i) p.drawLine(QPointF(x + 70 + i * 4, y + 5), QPointF(x + 70 + i * 4, y + 17));
}

void drawImageFile(QPainter &p, double x, double y)
{
    QPainterPath sheet;
    sheet.moveTo(x, y);
    sheet.lineTo(x + 46, y);
    sheet.lineTo(x + 60, y + 14);
    sheet.lineTo(x + 60, y + 76);
    sheet.lineTo(x, y + 76);
    sheet.closeSubpath();
    p.setPen(QPen(QColor(40, 50, 65), 1.2));
    p.setBrush(QColor(245, 246, 240));
    p.drawPath(sheet);
    p.setBrush(QColor(205, 210, 200));
    p.drawPolygon(QPolygonF({QPointF(x + 46, y), QPointF(x + 46, y + 14), QPointF(x + 60, y + 14)}));
    // Record lines of the image, each starting with its colon.
    p.setPen(QPen(QColor(40, 90, 160), 2));
    for (int i = 0; i < 6; ++i) {
        double ly = y + 24 + i * 8;
        p.drawPoint(QPointF(x + 7, ly));
        p.drawLine(QPointF(x + 11, ly), QPointF(x + 20 + ((i * 17) % 31), ly));
    }
}

void drawChip(QPainter &p, double cx, double cy)
{
    QRectF body(cx - 32, cy - 32, 64, 64);
    p.setPen(QPen(QColor(200, 170, 80), 2));
    for (int i = 0; i < 6; ++i) {
        double t = -25 + i * 10;
        p.drawLine(QPointF(cx + t, cy - 32), QPointF(cx + t, cy - 42));
        p.drawLine(QPointF(cx + t, cy + 32), QPointF(cx + t, cy + 42));
        p.drawLine(QPointF(cx - 32, cy + t), QPointF(cx - 42, cy + t));
        p.drawLine(QPointF(cx + 32, cy + t), QPointF(cx + 42, cy + t));
    }
    QLinearGradient shade(body.topLeft(), body.bottomRight());
    shade.setColorAt(0.0, QColor(60, 66, 78));
    shade.setColorAt(1.0, QColor(22, 25, 32));
    p.setPen(QPen(QColor(120, 130, 145), 1));
    p.setBrush(shade);
    p.drawRoundedRect(body, 5, 5);
    QRadialGradient glow(QPointF(cx, cy), 22);
    glow.setColorAt(0.0, QColor(255, 210, 90, 230));
    glow.setColorAt(1.0, QColor(255, 160, 40, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(glow);
    p.drawEllipse(QPointF(cx, cy), 22, 22);
    p.setBrush(QColor(255, 236, 170));
    p.drawEllipse(QPointF(cx, cy), 6, 6);
}

void drawFlow(QPainter &p, QPointF from, QPointF to)
{
    // Bits travelling from the image to the chip.
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 7; ++i) {
        double t = (i + 0.5) / 7.0;
        QPointF at = from + (to - from) * t;
        int nAlpha = 90 + i * 22;
        p.setBrush(QColor(255, 200, 80, nAlpha));
        if (i % 2 == 0) {
            p.drawRect(QRectF(at.x() - 2.5, at.y() - 2.5, 5, 5));
        } else {
            p.drawEllipse(at, 2.8, 2.8);
        }
    }
}

} // namespace

void wiz_DrawPicture(QPainter *pPainter, const QRectF &rect)
{
    QPainter &p = *pPainter;
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setClipRect(rect);
    p.fillRect(rect, QColor(6, 16, 36));
    // Fill the rectangle: scale so that the drawing covers it, centred.
    double dScale = std::max(rect.width() / kWidth, rect.height() / kHeight);
    p.translate(rect.center());
    p.scale(dScale, dScale);
    p.translate(-kWidth / 2, -kHeight / 2);

    drawBackground(p);
    for (int i = 0; i < 4; ++i) drawModem(p, 28 + (i % 2) * 6, 132 + i * 27, 5 - i);
    drawImageFile(p, 38, 26);
    drawChip(p, 212, 90);
    drawFlow(p, QPointF(104, 62), QPointF(166, 86));
    // The chip's line down to the bank of modems.
    p.setPen(QPen(QColor(255, 200, 80, 150), 2, Qt::DashLine));
    p.drawLine(QPointF(212, 136), QPointF(212, 200));
    p.drawLine(QPointF(212, 200), QPointF(130, 200));
    p.restore();
}

CWizardPicture::CWizardPicture(QWidget *pParent) : QWidget(pParent)
{
    setObjectName(QStringLiteral("wizardPicture"));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
}

QSize CWizardPicture::sizeHint() const
{
    return QSize(wiz_DuX(this, wiz_kPictureWidthDu), wiz_DuY(this, wiz_kPictureHeightDu));
}

QSize CWizardPicture::minimumSizeHint() const
{
    return sizeHint();
}

void CWizardPicture::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    wiz_DrawPicture(&painter, QRectF(rect()));
}

void wiz_SetPageFrame(QWizardPage *pPage, QWidget *pControls)
{
    auto *pLayout = new QHBoxLayout(pPage);
    pLayout->setContentsMargins(0, 0, 0, 0);
    pLayout->setSpacing(wiz_DuX(pPage, 6));
    pLayout->addWidget(new CWizardPicture(pPage), 0, Qt::AlignTop | Qt::AlignLeft);
    pLayout->addWidget(pControls, 1);
    pControls->setMinimumWidth(wiz_DuX(pPage, wiz_kPageWidthDu - wiz_kPictureWidthDu - 8));
    pPage->setMinimumHeight(wiz_DuY(pPage, wiz_kPageHeightDu));
}
