// Page 3: the country or region to configure for, from the country catalogue. Its first showing tells
// the user, once per wizard run, that being listed is no approval.
#pragma once

#include "country/wizard/SheetPage.h"

#include <string>

class QComboBox;

// A catalogue name as text to show: UTF-8 when it is valid UTF-8, else Latin-1 (catalogues written on
// other systems), so that no name is shown mangled.
QString CatalogueText(const std::string& name);

class CCountryPage : public CSheetPage {
public:
    explicit CCountryPage(CCfgSheet& sheet);

    void OnInit() override;
    void OnActivate() override;
    bool validatePage() override;
    void cleanupPage() override;

    QComboBox* CountryList() const { return m_countries; }

private:
    // Hands the chosen entry to the sheet, as the catalogue spells it.
    void ExchangeChoice();

    QComboBox* m_countries;
};
