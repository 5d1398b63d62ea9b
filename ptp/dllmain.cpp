// velptp.dll: its COM exports (comserver/dll_exports.cpp) over the library's core.
#include "server_module.h"
#include "velptp_core.h"

const ServerModule serverModule = {PtpGetClassObject, PtpCanUnloadNow, PtpRegisterServer,
                                   PtpUnregisterServer};
