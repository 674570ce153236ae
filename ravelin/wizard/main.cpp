// ravelin: the firmware update wizard.
#include <QApplication>

#include <cstdio>
#include <cstring>

#include "ravelin/wizard/message_boxes.h"
#include "ravelin/wizard/update_app.h"
#include "ravelin/wizard/version_text.h"

int main(int argc, char **argv)
{
    // Answered before Qt starts, so that it needs no display.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::fputs(wiz_VersionText().c_str(), stdout);
        return 0;
    }
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
