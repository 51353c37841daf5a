// The client's service class, QFClient.
#pragma once

#include "Common/CriticalSection.h"
#include "Common/Service/NTService.h"

// The run loop's stop event (manual reset), signalled by OnStop and
// OnShutdown; null while Run does not hold one.
extern HANDLE g_hStopEvent;
// The run loop's synchronisation timer: 5 s to the first tick, then 500 ms.
extern HANDLE g_hTickTimer;

class CClientService : public CNTService
{
public:
    CClientService();
    ~CClientService() override;

    // Opens the outputs, writes "Logging started", ticks the process monitor
    // every 500 ms until stopped, then writes "Logging stopped".
    void Run() override;
    // Reads the settings back from the Parameters key and loads the filters.
    bool OnInit() override;
    // Both end the run loop, also when they come before Run has started it.
    void OnStop() override;
    void OnShutdown() override;
    // Nothing to do: the loop has no paused state.
    void OnInterrogate() override;
    void OnPause() override;
    void OnContinue() override;

    // Deletes the Parameters key.
    void ResetSettings();
    // Writes the settings that differ from their defaults under the Parameters key.
    void SaveSettings();

private:
    // Records the stop request and signals the stop event if Run holds one.
    void RequestStop();
    // Makes hEvent the stop event (null: none), signalling it at once when a
    // stop was requested before.
    void PublishStopEvent(HANDLE hEvent);
    // One timer tick; every 241st also wakes the sender and trims the working set.
    void OnTick(int& nTicks);

    // Hands the stop event between Run (service thread) and the hooks
    // (dispatcher thread), so a hook never signals a closed event.
    CCriticalSection m_StopLock;
    bool             m_bStopRequested;
};
