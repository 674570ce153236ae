// The country wizard's picture (left of every page) and its window icon: our own drawings, painted
// with QPainter at whatever size and screen density they are shown, so they stay sharp.
#pragma once

#include <QIcon>
#include <QWidget>

class QPainter;
class QRectF;

// A globe over a modem on a deep blue ground, filling area.
void PaintWizardPicture(QPainter& painter, const QRectF& area);

// The globe alone on a rounded tile, readable down to 16 pixels.
QIcon CountryWindowIcon();

// The picture as a widget of the original dialogs' 103 x 93 dialog units.
class CWizardPicture : public QWidget {
public:
    explicit CWizardPicture(QWidget* parent = nullptr);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};
