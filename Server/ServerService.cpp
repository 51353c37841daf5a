// STUB: replaced by the server's service class.
#include "Server/ServerService.h"
