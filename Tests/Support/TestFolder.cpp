#include "Tests/Support/TestFolder.h"

#include "Common/Handles.h"

#include <atomic>

CTestFolder::CTestFolder()
{
    static std::atomic<unsigned> s_nNext{0};
    char szTemp[MAX_PATH] = "";
    GetTempPathA(MAX_PATH, szTemp);
    std::string strBase = szTemp;
    if (!strBase.empty() && strBase.back() == '\\')
        strBase.pop_back();
    for (;;)
    {
        m_strPath = strBase + "\\qftest-" + std::to_string(GetCurrentProcessId()) + "-" +
                    std::to_string(GetTickCount()) + "-" + std::to_string(s_nNext++);
        if (CreateDirectoryA(m_strPath.c_str(), nullptr))
            break;
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            break;
    }
}

CTestFolder::~CTestFolder()
{
    RemoveTree(m_strPath);
}

std::string CTestFolder::File(const std::string& strName) const
{
    return m_strPath + "\\" + strName;
}

std::string ReadWholeFile(const std::string& strPath)
{
    CFileHandle hFile(CreateFileA(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string strContent;
    if (!hFile)
        return strContent;
    char buf[65536];
    DWORD cbRead = 0;
    while (ReadFile(hFile.Get(), buf, sizeof buf, &cbRead, nullptr) && cbRead > 0)
        strContent.append(buf, cbRead);
    return strContent;
}

bool WriteWholeFile(const std::string& strPath, const std::string& strContent)
{
    CFileHandle hFile(CreateFileA(strPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!hFile)
        return false;
    DWORD cbWritten = 0;
    return WriteFile(hFile.Get(), strContent.data(), static_cast<DWORD>(strContent.size()), &cbWritten, nullptr) &&
           cbWritten == strContent.size();
}

bool FileExists(const std::string& strPath)
{
    return GetFileAttributesA(strPath.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void RemoveTree(const std::string& strPath)
{
    if (strPath.empty())
        return;
    WIN32_FIND_DATAA fd;
    CFindHandle hFind(FindFirstFileA((strPath + "\\*").c_str(), &fd));
    if (hFind)
    {
        do
        {
            std::string strName = fd.cFileName;
            if (strName == "." || strName == "..")
                continue;
            std::string strChild = strPath + "\\" + strName;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(strChild);
            else
            {
                SetFileAttributesA(strChild.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(strChild.c_str());
            }
        } while (FindNextFileA(hFind.Get(), &fd));
    }
    hFind.Close();
    RemoveDirectoryA(strPath.c_str());
}
