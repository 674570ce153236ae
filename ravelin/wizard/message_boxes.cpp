#include "ravelin/wizard/message_boxes.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QString>

#include <memory>

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

QMessageBox *wiz_NewQuestionBox(QWidget *pParent, const char *pszText)
{
    auto *pBox = new QMessageBox(QMessageBox::Question, QStringLiteral("Ravelin"),
                                 QString::fromLocal8Bit(wiz_DisplayText(pszText).c_str()),
                                 QMessageBox::Yes | QMessageBox::No, pParent);
    pBox->setDefaultButton(QMessageBox::Yes);
    return pBox;
}

bool CQtMessageBoxes::Ask(QWidget *pParent, const char *pszText)
{
    std::unique_ptr<QMessageBox> box(wiz_NewQuestionBox(pParent, pszText));
    return box->exec() == QMessageBox::Yes;
}

std::string CQtMessageBoxes::AskSaveFile(QWidget *pParent, const char *pszTitle, const char *pszSuggested)
{
    QString path = QFileDialog::getSaveFileName(pParent, QString::fromLocal8Bit(pszTitle),
                                                QString::fromLocal8Bit(pszSuggested),
                                                QStringLiteral("CSV files (*.csv);;All files (*)"));
    return path.toLocal8Bit().toStdString();
}
