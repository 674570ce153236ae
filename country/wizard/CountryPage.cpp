#include "country/wizard/CountryPage.h"

#include "country/config/catalogue.h"
#include "country/wizard/CfgSheet.h"
#include "country/wizard/message_boxes.h"
#include "country/wizard/wizard_texts.h"

#include <QComboBox>
#include <QLabel>
#include <QStringDecoder>
#include <QVBoxLayout>

QString CatalogueText(const std::string& name)
{
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8(QByteArrayView(name.data(), static_cast<qsizetype>(name.size())));
    if (utf8.hasError())
        return QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
    return text;
}

CCountryPage::CCountryPage(CCfgSheet& sheet) : CSheetPage(sheet)
{
    AddParagraph(QString::fromUtf8(WizardTextOf(WizardText::kSelectCountry)));
    AddLine();
    QLabel* label = AddLine(QString::fromUtf8(kCountryLabel));
    label->setTextFormat(Qt::AutoText);  // the "&" marks the shortcut letter
    m_countries = new QComboBox(this);
    m_countries->setEditable(false);
    // As wide as the text column: the names are only known once the catalogue is read.
    m_countries->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    label->setBuddy(m_countries);
    Column()->addWidget(m_countries);
    Column()->addStretch(1);
}

void CCountryPage::OnInit()
{
    m_countries->clear();
    // The list is the catalogue's own order, already sorted by name; an item's data is its catalogue
    // index, so the name handed on is the catalogue's bytes, whatever its encoding.
    const std::vector<CountryRecord>& countries = Countries();
    for (size_t i = 0; i < countries.size(); ++i)
        m_countries->addItem(CatalogueText(countries[i].name), static_cast<qulonglong>(i));
    // The first entry that begins with the preset text, as a drop-down list selects by a prefix; the
    // first entry when none does, so that a country is always chosen.
    const QString preset = QString::fromUtf8(WizardTextOf(WizardText::kAustralia));
    for (int i = 0; i < m_countries->count(); ++i) {
        if (m_countries->itemText(i).startsWith(preset, Qt::CaseInsensitive)) {
            m_countries->setCurrentIndex(i);
            break;
        }
    }
    // OnInit runs once per wizard run: so does the note.
    Sheet().Boxes().Show(this, IMessageBoxes::kInformation, ApprovalNote());
}

void CCountryPage::OnActivate()
{
    Sheet().SetWizardButtons(CCfgSheet::kBack | CCfgSheet::kNext);
}

void CCountryPage::ExchangeChoice()
{
    const std::vector<CountryRecord>& countries = Countries();
    const qulonglong index = m_countries->currentData().toULongLong();
    if (m_countries->currentIndex() >= 0 && index < countries.size())
        Sheet().SetChosenCountry(countries[index].name);
}

bool CCountryPage::validatePage()
{
    ExchangeChoice();
    return true;
}

void CCountryPage::cleanupPage()
{
    ExchangeChoice();
}
