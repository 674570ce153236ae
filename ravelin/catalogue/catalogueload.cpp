// Reading Models.ini and Locks.ini from the executable's directory.

#include "ravelin/catalogue/catalogue.h"

int cat_Load()
{
    cat_Free();
    return cat_kNoModels;
}
