#include "country/wizard/SheetPage.h"

#include "country/wizard/dialog_units.h"
#include "country/wizard/wizard_art.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace {

const int kPageWidthUnits = 290;
const int kPageHeightUnits = 95;

}  // namespace

CSheetPage::CSheetPage(CCfgSheet& sheet) : m_sheet(sheet)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(new CWizardPicture(this), 0, Qt::AlignTop);
    m_column = new QVBoxLayout;
    m_column->setSpacing(0);
    row->addLayout(m_column, 1);
}

QLabel* CSheetPage::AddLine(const QString& text)
{
    auto* label = new QLabel(text, this);
    label->setTextFormat(Qt::PlainText);
    // A blank line keeps a line's height, as the empty text fields of the original dialogs did.
    label->setMinimumHeight(label->fontMetrics().height());
    m_column->addWidget(label);
    m_lines.push_back(label);
    return label;
}

QLabel* CSheetPage::AddParagraph(const QString& text)
{
    QLabel* label = AddLine(text);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

QStringList CSheetPage::Lines() const
{
    QStringList lines;
    for (const QLabel* label : m_lines)
        lines << label->text();
    return lines;
}

QSize CSheetPage::minimumSizeHint() const
{
    return QWizardPage::minimumSizeHint().expandedTo(DialogUnitsToPixels(font(), kPageWidthUnits, kPageHeightUnits));
}

CThreeLinePage::CThreeLinePage(CCfgSheet& sheet) : CSheetPage(sheet)
{
    m_first = AddLine();
    m_second = AddLine();
    m_third = AddLine();
    Column()->addStretch(1);
}

void CThreeLinePage::SetLines(const QString& first, const QString& second, const QString& third)
{
    m_first->setText(first);
    m_second->setText(second);
    m_third->setText(third);
}
