// Program paths take the names the file system stores, on real folders and
// files of the C: drive.
#include "Client/WinNT/ProcessMonitor.h"
#include "Tests/Support/TestFolder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{
std::string Canonical(const std::string& strPath)
{
    char szPath[MAX_PATH];
    EXPECT_LT(strPath.size(), sizeof szPath);
    lstrcpynA(szPath, strPath.c_str(), sizeof szPath);
    EXPECT_EQ(CProcessMonitor::CanonicalizePath(szPath), szPath);
    return szPath;
}

std::string Upper(std::string str)
{
    CharUpperBuffA(&str[0], static_cast<DWORD>(str.size()));
    return str;
}

std::string Lower(std::string str)
{
    CharLowerBuffA(&str[0], static_cast<DWORD>(str.size()));
    return str;
}

// The folder "Mixed Case Dir" with files stored under the names given.
class CNamedFiles
{
public:
    CNamedFiles()
    {
        m_strDir = m_Folder.File("Mixed Case Dir");
        EXPECT_TRUE(CreateDirectoryA(m_strDir.c_str(), nullptr));
        for (const char* pszName : { "Run.exe", "ABC1.EXE", "NODOT", "Ab.EXE" })
            EXPECT_TRUE(WriteWholeFile(m_strDir + "\\" + pszName, "x"));
        // The scratch folder's own components as the file system stores them.
        m_strBase = Canonical(m_Folder.Path());
        EXPECT_EQ(lstrcmpiA(m_strBase.c_str(), m_Folder.Path().c_str()), 0);
    }

    const std::string& Folder() const { return m_Folder.Path(); }
    const std::string& Base() const { return m_strBase; }
    const std::string& Dir() const { return m_strDir; }

private:
    CTestFolder m_Folder;
    std::string m_strDir;
    std::string m_strBase;
};

// Folders with long names whose short forms fit a path but whose long forms
// do not, with Run.exe at the bottom; made and removed through the wide
// functions, which take such paths.
class CDeepFolders
{
public:
    explicit CDeepFolders(const std::string& strParent)
    {
        std::wstring wstr = L"\\\\?\\" + std::wstring(strParent.begin(), strParent.end());
        for (wchar_t c = L'a'; c < L'a' + 4; ++c)
        {
            wstr += L"\\" + std::wstring(70, c);
            if (!CreateDirectoryW(wstr.c_str(), nullptr))
                break;
            m_folders.push_back(wstr);
        }
        m_wstrFile = wstr + L"\\Run.exe";
        CloseHandle(CreateFileW(m_wstrFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    }
    ~CDeepFolders()
    {
        DeleteFileW(m_wstrFile.c_str());
        for (auto it = m_folders.rbegin(); it != m_folders.rend(); ++it)
            RemoveDirectoryW(it->c_str());
    }

    // The short form of the file's path, without the \\?\ prefix.
    std::string ShortPath() const
    {
        wchar_t wszShort[MAX_PATH] = L"";
        if (!GetShortPathNameW(m_wstrFile.c_str(), wszShort, MAX_PATH))
            return std::string();
        std::string str;
        for (const wchar_t* p = wszShort + 4; *p; ++p)
            str += static_cast<char>(*p);
        return str;
    }

private:
    std::vector<std::wstring> m_folders;
    std::wstring m_wstrFile;
};
}  // namespace

TEST(CanonicalizePath, TakesStoredNamesAndCapitalisesAllUpperCaseFinalNames)
{
    CNamedFiles files;
    const std::string& strBase = files.Base();
    const std::string strDir = strBase + "\\Mixed Case Dir";
    char szShort[MAX_PATH] = "";
    GetShortPathNameA((files.Dir() + "\\Run.exe").c_str(), szShort, MAX_PATH);

    struct
    {
        std::string strIn;
        std::string strExpected;
    } cases[] = {
        // Every component after the drive takes its stored case.
        { Upper(files.Folder() + "\\mixed case dir\\run.exe"), strDir + "\\Run.exe" },
        // No lower-case letter in the stored final name: Name.ext.
        { files.Folder() + "\\mixed case dir\\abc1.exe", strDir + "\\Abc1.exe" },
        // One lower-case letter is enough to keep the stored name.
        { files.Folder() + "\\MIXED CASE DIR\\AB.EXE", strDir + "\\Ab.EXE" },
        // Without an extension the stored name stays as it is.
        { files.Folder() + "\\mixed case dir\\nodot", strDir + "\\NODOT" },
        // Runs of backslashes become one.
        { files.Folder() + "\\\\Mixed Case Dir\\\\\\Run.exe", strDir + "\\Run.exe" },
        // The drive keeps the case it was given.
        { Lower(files.Folder()) + "\\Mixed Case Dir\\Run.exe",
          Lower(strBase.substr(0, 2)) + strDir.substr(2) + "\\Run.exe" },
        // A short name takes its long form.
        { szShort, strDir + "\\Run.exe" },
    };
    for (const auto& c : cases)
        EXPECT_EQ(Canonical(c.strIn), c.strExpected) << "from " << c.strIn;
}

TEST(CanonicalizePath, LeavesPathsItCannotResolveAsPassed)
{
    CNamedFiles files;

    CDeepFolders deep(files.Dir());
    const std::string strShort = deep.ShortPath();
    // The short path really names the file, or the last case shows nothing.
    ASSERT_FALSE(strShort.empty());
    EXPECT_LT(strShort.size(), 200u);
    EXPECT_TRUE(FileExists(strShort));

    const std::string cases[] = {
        "",
        // A component that does not exist: everything stays, doubled
        // backslashes and letter case included.
        Upper(files.Folder()) + "\\\\MIXED CASE DIR\\MISSING\\\\RUN.EXE",
        // A wildcard would find some other file.
        files.Folder() + "\\Mixed Case Dir\\R*.EXE",
        // A single name, as Toolhelp gives it, has no folders to look up.
        "NOTEPAD.EXE",
        // The long form would not fit.
        strShort,
    };
    for (const std::string& strIn : cases)
        EXPECT_EQ(Canonical(strIn), strIn);
}
