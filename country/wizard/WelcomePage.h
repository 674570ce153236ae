// Page 1: what the wizard does and why the right country matters.
#pragma once

#include "country/wizard/SheetPage.h"

class CWelcomePage : public CSheetPage {
public:
    explicit CWelcomePage(CCfgSheet& sheet);
    void OnActivate() override;
};
