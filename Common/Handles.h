// Small non-copyable owners, one per kind of handle. Each knows its own
// "no handle" value and its own close call, so a failed open can never be
// checked against the wrong sentinel, and early returns close what was opened.
#pragma once

#include "Common/Win32.h"

template <typename Traits>
class CHandleOwner
{
public:
    using Type = typename Traits::Type;

    CHandleOwner() noexcept : m_h(Traits::Invalid()) {}
    explicit CHandleOwner(Type h) noexcept : m_h(h) {}
    ~CHandleOwner() { Close(); }

    CHandleOwner(const CHandleOwner&) = delete;
    CHandleOwner& operator=(const CHandleOwner&) = delete;

    CHandleOwner(CHandleOwner&& other) noexcept : m_h(other.Detach()) {}
    CHandleOwner& operator=(CHandleOwner&& other) noexcept
    {
        if (this != &other)
            Reset(other.Detach());
        return *this;
    }

    Type Get() const noexcept { return m_h; }
    bool IsValid() const noexcept { return m_h != Traits::Invalid(); }
    explicit operator bool() const noexcept { return IsValid(); }

    // Gives up ownership without closing.
    Type Detach() noexcept
    {
        Type h = m_h;
        m_h = Traits::Invalid();
        return h;
    }

    // Closes the handle held, if any, and takes h.
    void Reset(Type h = Traits::Invalid()) noexcept
    {
        Close();
        m_h = h;
    }

    void Close() noexcept
    {
        if (IsValid())
        {
            Traits::Close(m_h);
            m_h = Traits::Invalid();
        }
    }

private:
    Type m_h;
};

struct KernelHandleTraits
{
    using Type = HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::CloseHandle(h); }
};

// CreateFile reports failure with INVALID_HANDLE_VALUE, not null.
struct FileHandleTraits
{
    using Type = HANDLE;
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) noexcept { ::CloseHandle(h); }
};

struct FindHandleTraits
{
    using Type = HANDLE;
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) noexcept { ::FindClose(h); }
};

struct ServiceHandleTraits
{
    using Type = SC_HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::CloseServiceHandle(h); }
};

struct RegKeyTraits
{
    using Type = HKEY;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::RegCloseKey(h); }
};

struct SocketTraits
{
    using Type = SOCKET;
    static Type Invalid() noexcept { return INVALID_SOCKET; }
    static void Close(Type h) noexcept { ::closesocket(h); }
};

struct ModuleTraits
{
    using Type = HMODULE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::FreeLibrary(h); }
};

struct LocalMemTraits
{
    using Type = HLOCAL;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::LocalFree(h); }
};

using CHandle      = CHandleOwner<KernelHandleTraits>;  // events, threads, timers, processes
using CFileHandle  = CHandleOwner<FileHandleTraits>;
using CFindHandle  = CHandleOwner<FindHandleTraits>;
using CScHandle    = CHandleOwner<ServiceHandleTraits>;
using CRegKey      = CHandleOwner<RegKeyTraits>;
using CSocket      = CHandleOwner<SocketTraits>;
using CModule      = CHandleOwner<ModuleTraits>;
using CLocalMem    = CHandleOwner<LocalMemTraits>;
