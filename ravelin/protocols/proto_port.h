// Opening the device's port at the start of a chip download.
#pragma once

#include "ravelin/flash/flsh.h"

// Opens the update record's port. Returns 0 and logs "<port>  Opened" under the protocol's module
// name, or FR_PORT_OPEN_FAILED once the record has been told why the port would not open (the
// user sees that, not only the result code).
int proto_OpenPort(UrsPort *pPort, DeviceUpdate *pUpdate, const char *pszModule);
