#include "ident_test_catalogue.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <dirent.h>
#include <unistd.h>

#include "ravelin/catalogue/catalogue.h"
#include "ravelin/support/osclock.h"
#include "ravelin/support/oswin32.h"

namespace ident_testing {

const char kModelsIni[] =
    "[Version]\r\n"
    "Version=2\r\n"
    "\r\n"
    "[Models]\r\n"
    "NumModels=14\r\n"
    "MODEL_1=1,{MX-3320},{MX},{NEWMODEMS},{\"\"},{;}\r\n"
    "MODEL_2=2,{MX-3310},{MY},{OLDMODEMS},{\"\"},{;}\r\n"
    "MODEL_3=3,{NX-5600},{NX},{OCTAMODEMS},{\"\"},{;}\r\n"
    "MODEL_4=4,{RK-2814},{RA},{ROCKWELL},{2},{RA28load.s37}\r\n"
    "MODEL_5=5,{RK-1440},{RB},{ROCKWELL},{2},{RB14load.s37}\r\n"
    "MODEL_6=6,{RK-3360},{RC},{rockwell2},{3},{RC33load.s37}\r\n"
    "MODEL_7=7,{WX-2401},{WX},{SIEMENS},{\"\"},{;}\r\n"
    "MODEL_8=8,{TA-128},{TB},{TA},{\"\"},{;}\r\n"
    "MODEL_9=9,{Octa-TA2},{OT},{OctaTA2},{\"\"},{;}\r\n"
    "MODEL_10=10,{Octa-TA1},{OU},{OctaTA1},{\"\"},{;}\r\n"
    "MODEL_11=11,{LU-56K},{LU},{LUCENT},{\"\"},{;}\r\n"
    "MODEL_12=12,{LU-33K},{LV},{LUCENT},{\"\"},{;}\r\n"
    "MODEL_13=13,{AG-1000},{AG},{AGERE},{\"\"},{;}\r\n"
    "MODEL_14=14,{MX-56},{MZ},{CF},{\"\"},{;}\r\n";

const char kLocksIni[] =
    "[Version]\r\n"
    "Version=1\r\n"
    "\r\n"
    "[MX-3320]\r\n"
    "NumLocks=1\r\n"
    "Lock1=4\r\n"
    "Upgrade1=3-4\r\n";

std::string MakeTempDir()
{
    const char *pszBase = std::getenv("TMPDIR");
    std::string pattern = std::string(pszBase && *pszBase ? pszBase : "/tmp") + "/ident-test-XXXXXX";
    char *pszMade = mkdtemp(&pattern[0]);
    return pszMade ? std::string(pszMade) : std::string();
}

bool WriteFile(const std::string &path, const std::string &text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return static_cast<bool>(out);
}

void RemoveTree(const std::string &path)
{
    if (path.empty()) return;
    if (DIR *pDir = opendir(path.c_str())) {
        while (struct dirent *pEntry = readdir(pDir)) {
            std::string name = pEntry->d_name;
            if (name == "." || name == "..") continue;
            std::string child = path + "/" + name;
            struct stat st;
            if (lstat(child.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) RemoveTree(child);
            else unlink(child.c_str());
        }
        closedir(pDir);
    }
    rmdir(path.c_str());
}

std::string DeviceFile(const std::string &name)
{
    std::ifstream in(std::string(SUITE_SOURCE_DIR) + "/data/sim/ident/" + name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TestCatalogue::TestCatalogue() : m_dir(MakeTempDir())
{
    WriteFile(m_dir + "/Models.ini", kModelsIni);
    WriteFile(m_dir + "/Locks.ini", kLocksIni);
    os_SetExeDirForTesting(m_dir.c_str());
    cat_Free();
    m_nLoad = cat_Load();
}

TestCatalogue::~TestCatalogue()
{
    cat_Free();
    os_SetExeDirForTesting(nullptr);
    RemoveTree(m_dir);
}

void UseShortTimeScale()
{
    setenv("SUITE_TIME_SCALE", "0.2", 1);
    os_SetTimeScaleForTesting(0.2);
}

} // namespace ident_testing
