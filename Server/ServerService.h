// The server's service class, Quillfen: its settings in the registry and
// the connection server as its work.
#pragma once

#include "Common/Service/NTService.h"

// The server's stop event (manual reset): set by OnStop and OnShutdown,
// waited on by the connection server. Created with the service object, so a
// stop that arrives before the server waits is not lost.
extern HANDLE g_hStopEvent;

class CServerService : public CNTService
{
public:
    CServerService();
    ~CServerService() override;

    // Runs the connection server until the stop event is set.
    void Run() override;
    // Loads g_ServerSettings from the Parameters key; always succeeds.
    bool OnInit() override;
    // Sets the stop event.
    void OnStop() override;
    // Nothing to do.
    void OnInterrogate() override;
    // Nothing to do.
    void OnPause() override;
    // Nothing to do.
    void OnContinue() override;
    // Sets the stop event.
    void OnShutdown() override;

    // Writes the settings that differ from their defaults under the Parameters key.
    void SaveSettings();
    // Deletes the Parameters key.
    void ResetSettings();
};
