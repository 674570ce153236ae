// How the wizard shows its message boxes: every box of the program goes through this one interface,
// so that a test (or the screenshot tool) can drive the pages without a modal box and read every
// message they showed.
#pragma once

#include <string>
#include <utility>
#include <vector>

class QMessageBox;
class QWidget;

class CMessageBoxes {
public:
    virtual ~CMessageBoxes() = default;
    // A plain box with one OK button; returns when the user has closed it. The text is exactly the
    // program's message (line breaks as CR, LF or CR LF).
    virtual void Show(QWidget *pParent, const char *pszText) = 0;
    // A question with Yes and No (Yes the default); true for Yes.
    virtual bool Ask(QWidget *pParent, const char *pszText) = 0;
    // Asks where to save a file, suggesting pszSuggested (a name or path); "" when the user cancelled.
    virtual std::string AskSaveFile(QWidget *pParent, const char *pszTitle, const char *pszSuggested) = 0;
};

// The real boxes: a modal QMessageBox titled "Ravelin".
class CQtMessageBoxes : public CMessageBoxes {
public:
    void Show(QWidget *pParent, const char *pszText) override;
    bool Ask(QWidget *pParent, const char *pszText) override;
    std::string AskSaveFile(QWidget *pParent, const char *pszTitle, const char *pszSuggested) override;
};

// Records each text and returns at once.
class CRecordingMessageBoxes : public CMessageBoxes {
public:
    void Show(QWidget *pParent, const char *pszText) override { m_texts.emplace_back(pszText); }
    // Records the question (among the texts too) and answers as SetAnswer said (No at first).
    bool Ask(QWidget *pParent, const char *pszText) override
    {
        m_texts.emplace_back(pszText);
        m_questions.emplace_back(pszText);
        return m_bAnswer;
    }
    void SetAnswer(bool bYes) { m_bAnswer = bYes; }
    const std::vector<std::string> &Texts() const { return m_texts; }
    const std::vector<std::string> &Questions() const { return m_questions; }
    void Clear()
    {
        m_texts.clear();
        m_questions.clear();
    }

    // Save questions are answered with the path set here ("" answers as Cancel does); each question's
    // title and suggestion is kept.
    std::string AskSaveFile(QWidget *pParent, const char *pszTitle, const char *pszSuggested) override
    {
        m_saveQuestions.emplace_back(pszTitle, pszSuggested);
        return m_saveAnswer;
    }
    void SetSaveAnswer(const std::string &path) { m_saveAnswer = path; }
    const std::vector<std::pair<std::string, std::string>> &SaveQuestions() const { return m_saveQuestions; }

private:
    std::vector<std::string> m_texts;
    std::vector<std::string> m_questions;
    bool m_bAnswer = false;
    std::string m_saveAnswer;
    std::vector<std::pair<std::string, std::string>> m_saveQuestions;
};

// The box CQtMessageBoxes::Ask shows (for the screenshot tool too): titled "Ravelin", Yes and No.
QMessageBox *wiz_NewQuestionBox(QWidget *pParent, const char *pszText);

// The program's message text as a box shows it: CR LF and lone CRs become line feeds.
std::string wiz_DisplayText(const char *pszText);
