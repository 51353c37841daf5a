// Scratch folders and small file helpers for tests that use real files.
#pragma once

#include <string>

// A fresh, uniquely named folder under the temporary folder, removed with
// everything in it when the object goes.
class CTestFolder
{
public:
    CTestFolder();
    ~CTestFolder();

    CTestFolder(const CTestFolder&) = delete;
    CTestFolder& operator=(const CTestFolder&) = delete;

    const std::string& Path() const { return m_strPath; }
    // Path() + "\" + strName.
    std::string File(const std::string& strName) const;

private:
    std::string m_strPath;
};

// The whole content of a file; empty when it cannot be read.
std::string ReadWholeFile(const std::string& strPath);
// Replaces a file's content; false on failure.
bool WriteWholeFile(const std::string& strPath, const std::string& strContent);
bool FileExists(const std::string& strPath);
// Removes a folder and everything in it.
void RemoveTree(const std::string& strPath);
