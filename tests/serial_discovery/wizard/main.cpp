// The update wizard's detection page on the bench machine of the device test bed.
#include <QApplication>
#include <QTest>

#include <cstdlib>

#include "wizard_detection_test.h"

int main(int argc, char **argv)
{
    setenv("SUITE_TIME_SCALE", "0.2", 0);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    WizardComLinkTest test;
    return QTest::qExec(&test, argc, argv) != 0 ? 1 : 0;
}
