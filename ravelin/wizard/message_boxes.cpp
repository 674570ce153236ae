#include "ravelin/wizard/message_boxes.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QString>

std::string wiz_DisplayText(const char *pszText)
{
    std::string text;
    for (const char *p = pszText; *p != '\0'; ++p) {
        if (*p == '\r') {
            text += '\n';
            if (p[1] == '\n') ++p;
        } else {
            text += *p;
        }
    }
    return text;
}

void CQtMessageBoxes::Show(QWidget *pParent, const char *pszText)
{
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Ravelin"),
                    QString::fromLocal8Bit(wiz_DisplayText(pszText).c_str()), QMessageBox::Ok, pParent);
    box.exec();
}

std::string CQtMessageBoxes::AskSaveFile(QWidget *pParent, const char *pszTitle, const char *pszSuggested)
{
    QString path = QFileDialog::getSaveFileName(pParent, QString::fromLocal8Bit(pszTitle),
                                                QString::fromLocal8Bit(pszSuggested),
                                                QStringLiteral("CSV files (*.csv);;All files (*)"));
    return path.toLocal8Bit().toStdString();
}
