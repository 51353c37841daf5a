// STUB: replaced by the server's entry.
#include "Server/ServerService.h"

int main(int, char*[])
{
    CServerService service;
    return 0;
}
