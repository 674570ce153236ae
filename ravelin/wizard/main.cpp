// ravelin: the firmware update wizard.
#include <QApplication>

#include "ravelin/wizard/message_boxes.h"
#include "ravelin/wizard/update_app.h"

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    CQtMessageBoxes boxes;
    CUpdateApp app(&boxes);
    int nExit = app.Start(argc, argv);
    if (nExit >= 0) return nExit;
    std::unique_ptr<CWizard> sheet = app.CreateWizard();
    sheet->exec();
    sheet.reset();
    return app.End();
}
