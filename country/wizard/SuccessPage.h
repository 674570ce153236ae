// Page 7: the modem was set for the chosen country or region.
#pragma once

#include "country/wizard/SheetPage.h"

class CSuccessPage : public CThreeLinePage {
public:
    explicit CSuccessPage(CCfgSheet& sheet);
    void OnActivate() override;
};
