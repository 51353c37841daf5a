// STUB: replaced by the server's service class.
#pragma once

#include "Common/Service/NTService.h"

class CServerService : public CNTService
{
public:
    CServerService() : CNTService("Quillfen") {}
};
