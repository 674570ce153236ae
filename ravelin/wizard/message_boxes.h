// How the wizard shows its message boxes: every box of the program goes through this one interface,
// so that a test (or the screenshot tool) can drive the pages without a modal box and read every
// message they showed.
#pragma once

#include <string>
#include <vector>

class QWidget;

class CMessageBoxes {
public:
    virtual ~CMessageBoxes() = default;
    // A plain box with one OK button; returns when the user has closed it. The text is exactly the
    // program's message (line breaks as CR, LF or CR LF).
    virtual void Show(QWidget *pParent, const char *pszText) = 0;
};

// The real boxes: a modal QMessageBox titled "Ravelin".
class CQtMessageBoxes : public CMessageBoxes {
public:
    void Show(QWidget *pParent, const char *pszText) override;
};

// Records each text and returns at once.
class CRecordingMessageBoxes : public CMessageBoxes {
public:
    void Show(QWidget *pParent, const char *pszText) override { m_texts.emplace_back(pszText); }
    const std::vector<std::string> &Texts() const { return m_texts; }
    void Clear() { m_texts.clear(); }

private:
    std::vector<std::string> m_texts;
};

// The program's message text as a box shows it: CR LF and lone CRs become line feeds.
std::string wiz_DisplayText(const char *pszText);
