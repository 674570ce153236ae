#pragma once
// A small catalogue installed once per fuzzing process, for targets whose parsers consult it
// (the version readers take Rockwell flags from it, identification looks model names up in it).
#include <vector>

#include "ravelin/catalogue/catalogue.h"

namespace fuzz {

inline void InstallCatalogue()
{
    static const bool bInstalled = [] {
        const char *const apszLines[] = {
            "10,{PL1400},{PA},{OLDMODEMS},{x},{;}",   "30,{TL128},{TB},{TA},{x},{;}",
            "40,{Octa-TA2},{OB},{OctaTA2},{x},{;}",   "60,{LX56},{LA},{LUCENT},{\"\"},{;}",
            "61,{AX56},{LB},{AGERE},{\"\"},{;}",      "70,{RW336-A},{RA},{ROCKWELL},{1},{RWload1.s37}",
            "72,{RW56-C-2},{RC},{ROCKWELL3},{x},{RWload3.s37}", "80,{MC75},{MC},{SIEMENS},{x},{;}",
            "90,{DT200},{DA},{CF},{x},{;}",
        };
        std::vector<ModelEntry> entries;
        for (const char *pszLine : apszLines) {
            ModelEntry entry;
            cat_ParseModelLine(pszLine, &entry);
            LockEntry lock;
            lock.nLock = 1;
            lock.upgrades = {1, 2};
            entry.locks.push_back(lock);
            entries.push_back(entry);
        }
        cat_Install(entries);
        return true;
    }();
    (void)bInstalled;
}

}  // namespace fuzz
