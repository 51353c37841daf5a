// The processes that own a foreground window at one moment: gathered afresh
// at every tick, over every window station and desktop or over the calling
// thread's desktop only.
#pragma once

#include "Client/WinNT/ItemArray.h"

class CForegroundSet
{
public:
    // Adds the owner of the foreground window of every desktop of every
    // window station this process can open.
    void SampleAllStations();
    // Adds the owner of the foreground window of the calling thread's desktop.
    void SampleCurrentDesktop();

    // Adds a process id once; a second foreground window adds nothing.
    void Insert(DWORD dwProcessId);
    bool Contains(DWORD dwProcessId) const;
    UINT GetCount() const { return m_Ids.GetCount(); }

private:
    // One window station's visit: the set, and the desktop the calling thread
    // is on, which can be closed only once the thread has left it.
    struct StationVisit
    {
        CForegroundSet* pSet;
        HDESK           hDesktop;
    };

    // Callbacks of EnumWindowStationsA (lParam: the set) and EnumDesktopsA
    // (lParam: the StationVisit). Both always go on with the next one.
    static BOOL CALLBACK SampleStation(LPSTR pszName, LPARAM lParam);
    static BOOL CALLBACK SampleDesktop(LPSTR pszName, LPARAM lParam);
    void AddForegroundOwner();

    CItemArrayOf<DWORD> m_Ids;
};
