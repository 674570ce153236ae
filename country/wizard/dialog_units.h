// The pages are laid out in dialog units, the font-relative measure of the original dialogs: a
// horizontal unit is a quarter of the font's average character width, a vertical unit an eighth of its
// height. Sizes derived this way grow with larger fonts and high-density screens, so text is never cut.
#pragma once

#include <QSize>

class QFont;

QSize DialogUnitsToPixels(const QFont& font, int horizontalUnits, int verticalUnits);
