// STUB: replaced by the client's entry.
#include "Client/WinNT/ClientService.h"

int main(int, char*[])
{
    CClientService service;
    return 0;
}
