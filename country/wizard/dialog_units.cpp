#include "country/wizard/dialog_units.h"

#include <QFont>
#include <QFontMetricsF>

#include <cmath>

QSize DialogUnitsToPixels(const QFont& font, int horizontalUnits, int verticalUnits)
{
    // The average width over the 52 letters, as the original platform measured its dialog base unit.
    static const QString kLetters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const QFontMetricsF metrics(font);
    const double baseWidth = metrics.horizontalAdvance(kLetters) / kLetters.size();
    const double baseHeight = metrics.height();
    return QSize(static_cast<int>(std::ceil(horizontalUnits * baseWidth / 4.0)),
                 static_cast<int>(std::ceil(verticalUnits * baseHeight / 8.0)));
}
