#include "country/wizard/message_boxes.h"

#include "country/wizard/wizard_texts.h"

#include <QMessageBox>

void CQtMessageBoxes::Show(QWidget* parent, Kind kind, const QString& text)
{
    QMessageBox box(kind == kError ? QMessageBox::Warning : QMessageBox::Information, QStringLiteral("Meridia"),
                    ForDisplay(text), QMessageBox::Ok, parent);
    box.exec();
}
