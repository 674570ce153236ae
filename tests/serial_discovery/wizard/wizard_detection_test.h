#pragma once

#include <QObject>

class WizardComLinkTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Without SERIAL_PORTS_DIR, COM5 is /dev/serial/com/COM5: the USB adapter numbered by a rule.
    void detectionPageFindsTheAdapterAsCom5();
};
