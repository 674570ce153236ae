// Page 4: the last stop before the modem is changed; names the chosen country or region.
#pragma once

#include "country/wizard/SheetPage.h"

class CToConfigPage : public CThreeLinePage {
public:
    explicit CToConfigPage(CCfgSheet& sheet);
    void OnActivate() override;
};
