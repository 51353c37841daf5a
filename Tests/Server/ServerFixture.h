// Runs QFServer as the service Quillfen for one test: settings stored with
// the program's own options, log folder a scratch folder, installed, started
// and finally stopped and removed through the SCM.
#pragma once

#include "Tests/Support/TestFolder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

class CServerFixture : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Stores -PATH <scratch folder> and strOptions, installs the service,
    // starts it and waits until it accepts connections.
    void StartServer(const std::string& strOptions = "");
    // Stops the service and waits for the stopped state.
    void StopServer();

    std::string LogPath() const { return m_Folder.File("Process.log"); }
    std::string OldLogPath() const { return m_Folder.File("Process.old.log"); }
    // The lines of Process.log, each with its CR LF.
    std::vector<std::string> LogLines() const;

    CTestFolder m_Folder;
};

// Splits text into lines, each keeping its CR LF.
std::vector<std::string> SplitLines(const std::string& strText);
