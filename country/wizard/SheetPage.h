// What every page of the country wizard has in common: the picture on the left, a column of text
// lines on the right, the original dialogs' 290 x 95 dialog units as its least size, and the two
// moments the sheet tells it about (its first showing and every activation).
#pragma once

#include <QStringList>
#include <QWizardPage>

#include <vector>

class CCfgSheet;
class QLabel;
class QVBoxLayout;

class CSheetPage : public QWizardPage {
public:
    explicit CSheetPage(CCfgSheet& sheet);

    // Once per wizard run, the first time the page is shown (before its first activation).
    virtual void OnInit() {}
    // Every time the page becomes the current one; sets the wizard buttons.
    virtual void OnActivate() {}

    // The texts of the page's lines, top to bottom, as shown.
    QStringList Lines() const;

    QSize minimumSizeHint() const override;

protected:
    CCfgSheet& Sheet() const { return m_sheet; }
    // A line of its own, as the original dialogs had them (empty: a blank line of the same height).
    QLabel* AddLine(const QString& text = QString());
    // A text that wraps at the column's width.
    QLabel* AddParagraph(const QString& text = QString());
    // Where a page puts widgets of its own, below its lines.
    QVBoxLayout* Column() const { return m_column; }

private:
    CCfgSheet& m_sheet;
    QVBoxLayout* m_column;
    std::vector<QLabel*> m_lines;
};

// A page of three lines whose texts are set when it is shown (ready, configuring, error, success).
class CThreeLinePage : public CSheetPage {
public:
    explicit CThreeLinePage(CCfgSheet& sheet);

protected:
    void SetLines(const QString& first, const QString& second, const QString& third);

private:
    QLabel* m_first;
    QLabel* m_second;
    QLabel* m_third;
};
