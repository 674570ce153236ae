#include "ravelin/protocols/proto_port.h"

#include "ravelin/support/log.h"

int proto_OpenPort(UrsPort *pPort, DeviceUpdate *pUpdate, const char *pszModule)
{
    if (urs_OpenPort(pPort, pUpdate->szPortPath) != URS_OK) {
        flsh_NoteOpenFailure(pUpdate);
        return FR_PORT_OPEN_FAILED;
    }
    log_Write(__LINE__, pszModule, "<%s>  Opened", flsh_PortDisplayName(pUpdate));
    return 0;
}
