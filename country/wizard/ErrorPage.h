// Page 6: the configuration failed or did not end in time. Back returns to the country page for
// another attempt.
#pragma once

#include "country/wizard/SheetPage.h"

class CErrorPage : public CThreeLinePage {
public:
    explicit CErrorPage(CCfgSheet& sheet);
    void OnActivate() override;
};
