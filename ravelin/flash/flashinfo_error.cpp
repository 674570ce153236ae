// The run's overall error code and its messages.
#include <cstdio>

#include "ravelin/flash/flashinfo.h"

namespace {

struct ErrorRow {
    int nCode;
    const char *pszText;
};

const ErrorRow kErrors[] = {
    {flsh_kRunNoError, "No Error"},
    {flsh_kRunCancelled, "ERROR: Program cancelled by user"},
    {flsh_kRunNoHexFiles, "ERROR: No Hex Files Available for Update"},
    {flsh_kRunNoDevices, "ERROR: No valid devices detected"},
    {flsh_kRunWrongModel, "ERROR: Devices detected were not the correct model"},
    {flsh_kRunWrongBuild, "ERROR: Devices detected were not the same build"},
    {flsh_kRunWrongModelAndBuild, "ERROR: Devices detected were not the correct model and build"},
    {flsh_kRunNoHexForModel, "ERROR: No hex files for given model"},
    {flsh_kRunNoHexForBuild, "ERROR: No hex files for given build"},
    {flsh_kRunIdentifyTimeout, "ERROR: Timeout attempting to identify devices!!"},
    {flsh_kRunNoHexSelected, "INTERNAL ERROR: No hex file available."},
    {flsh_kRunNoDeviceSelected, "INTERNAL ERROR: No devices selected."},
};

} // namespace

const char *flsh_RunErrorText(int nCode, char *pszBuffer, int nCapacity)
{
    for (const ErrorRow &row : kErrors)
        if (row.nCode == nCode) return row.pszText;
    if (pszBuffer == nullptr || nCapacity <= 0) return "ERROR: Unknown error";
    std::snprintf(pszBuffer, static_cast<std::size_t>(nCapacity), "ERROR: Unknown error %d", nCode);
    return pszBuffer;
}

int flsh_RunGetError(const UpdateRun *pRun) { return pRun->error.nCode; }

void flsh_RunSetError(UpdateRun *pRun, int nCode) { pRun->error.nCode = nCode; }

const char *flsh_RunErrorMessage(UpdateRun *pRun, int nCode)
{
    pRun->error.nCode = nCode;
    return flsh_RunErrorText(nCode, pRun->szErrorText, flsh_kRunErrorTextLen);
}
