// Every message box of the country program goes through this interface: the program shows real boxes,
// tests record what would have been shown and drive the pages on without anyone clicking.
#pragma once

#include <QString>

class QWidget;

class IMessageBoxes {
public:
    enum Kind { kInformation, kError };

    virtual ~IMessageBoxes() = default;
    // Tells the user text (as the program holds it, line ends included) and returns once it was read.
    virtual void Show(QWidget* parent, Kind kind, const QString& text) = 0;
};

// Modal QMessageBox windows titled with the product name.
class CQtMessageBoxes : public IMessageBoxes {
public:
    void Show(QWidget* parent, Kind kind, const QString& text) override;
};
