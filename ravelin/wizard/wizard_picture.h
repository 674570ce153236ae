// The wizard picture on the left of every page, and the one page frame that places it: the picture
// area and the page's controls side by side in the proportions of the page (431 x 172 dialog units,
// the picture area 204 x 170 of them), measured in dialog units of the page's own font so that
// larger fonts and high-DPI screens widen the page instead of cutting its texts.
#pragma once

#include <QWidget>

class QPainter;
class QRectF;
class QWizardPage;

// Page geometry in dialog units.
constexpr int wiz_kPageWidthDu = 431;
constexpr int wiz_kPageHeightDu = 172;
constexpr int wiz_kPictureWidthDu = 204;
constexpr int wiz_kPictureHeightDu = 170;

// Dialog units of a widget's font in pixels: a horizontal unit is a quarter of the average
// character width, a vertical unit an eighth of the line height.
int wiz_DuX(const QWidget *pWidget, int nUnits);
int wiz_DuY(const QWidget *pWidget, int nUnits);

// Draws the picture (our own drawing: a bank of modems, an image file and the flash chip it goes
// into) scaled to fill the rectangle.
void wiz_DrawPicture(QPainter *pPainter, const QRectF &rect);

// The picture area: paints the picture over its whole size.
class CWizardPicture : public QWidget {
    Q_OBJECT
public:
    explicit CWizardPicture(QWidget *pParent = nullptr);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *pEvent) override;
};

// Lays out a page: the picture area on the left, pControls (the page's own controls, in a layout of
// their own) on the right, at least as large as the page's dialog units ask.
void wiz_SetPageFrame(QWizardPage *pPage, QWidget *pControls);

