#include "Client/WinNT/ForegroundSet.h"

namespace
{
// GetWindowThreadProcessId leaves the id alone when it cannot tell the owner.
constexpr DWORD NO_PROCESS_ID = 0xFFFFFFFF;
}  // namespace

void CForegroundSet::SampleAllStations()
{
    EnumWindowStationsA(SampleStation, reinterpret_cast<LPARAM>(this));
}

void CForegroundSet::SampleCurrentDesktop()
{
    AddForegroundOwner();
}

void CForegroundSet::Insert(DWORD dwProcessId)
{
    if (!Contains(dwProcessId))
        m_Ids.Append(dwProcessId);
}

bool CForegroundSet::Contains(DWORD dwProcessId) const
{
    for (UINT i = 0; i < m_Ids.GetCount(); ++i)
    {
        if (m_Ids[i] == dwProcessId)
            return true;
    }
    return false;
}

void CForegroundSet::AddForegroundOwner()
{
    HWND hWnd = GetForegroundWindow();
    if (!hWnd)
        return;
    DWORD dwProcessId = NO_PROCESS_ID;
    GetWindowThreadProcessId(hWnd, &dwProcessId);
    if (dwProcessId != NO_PROCESS_ID)
        Insert(dwProcessId);
}

BOOL CALLBACK CForegroundSet::SampleStation(LPSTR pszName, LPARAM lParam)
{
    if (!pszName)
        return TRUE;
    HWINSTA hStation = OpenWindowStationA(pszName, FALSE, WINSTA_ENUMDESKTOPS | WINSTA_READATTRIBUTES);
    if (!hStation)
        return TRUE;
    // EnumDesktopsA and OpenDesktopA work on the process's window station, so
    // the process visits the station and always comes back before the next.
    HWINSTA hOwnStation = GetProcessWindowStation();
    HDESK hOwnDesktop = GetThreadDesktop(GetCurrentThreadId());
    StationVisit visit = { reinterpret_cast<CForegroundSet*>(lParam), nullptr };
    if (SetProcessWindowStation(hStation))
        EnumDesktopsA(hStation, SampleDesktop, reinterpret_cast<LPARAM>(&visit));
    // A thread can only be set to a desktop of the process's window station,
    // and a desktop a thread is on cannot be closed: the thread's own desktop
    // is restored after the station, then the last desktop visited is closed.
    SetProcessWindowStation(hOwnStation);
    SetThreadDesktop(hOwnDesktop);
    if (visit.hDesktop)
        CloseDesktop(visit.hDesktop);
    CloseWindowStation(hStation);
    return TRUE;
}

BOOL CALLBACK CForegroundSet::SampleDesktop(LPSTR pszName, LPARAM lParam)
{
    if (!pszName)
        return TRUE;
    HDESK hDesktop = OpenDesktopA(pszName, 0, FALSE, DESKTOP_READOBJECTS);
    if (!hDesktop)
        return TRUE;
    StationVisit& visit = *reinterpret_cast<StationVisit*>(lParam);
    // GetForegroundWindow answers for the calling thread's desktop only.
    if (!SetThreadDesktop(hDesktop))
    {
        CloseDesktop(hDesktop);
        return TRUE;
    }
    GetDesktopWindow();
    visit.pSet->AddForegroundOwner();
    // The thread has left the desktop it visited before, which can go now.
    if (visit.hDesktop)
        CloseDesktop(visit.hDesktop);
    visit.hDesktop = hDesktop;
    return TRUE;
}
