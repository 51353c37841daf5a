// The client's service class, QFClient.
#pragma once

#include "Common/Service/NTService.h"

class CClientService : public CNTService
{
public:
    CClientService();
    ~CClientService() override;

    void Run() override;
    bool OnInit() override;
    void OnStop() override;
    void OnInterrogate() override;
    void OnPause() override;
    void OnContinue() override;
    void OnShutdown() override;

    // Deletes the Parameters key.
    void ResetSettings();
    // Writes the settings that differ from their defaults under the Parameters key.
    void SaveSettings();
};
