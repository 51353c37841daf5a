// The client's process-wide objects, defined in one unit so that they are
// constructed in this order (after the standard streams) and destroyed in
// the reverse: the monitor first, then the logger, which saves the queue.
#include <iostream>

#include "Client/WinNT/Logger.h"
#include "Client/WinNT/ProcessMonitor.h"

CLogger g_Logger;
CProcessMonitor g_Monitor(true);
