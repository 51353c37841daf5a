#include "Client/WinNT/ItemArray.h"

#include <climits>
#include <cstdlib>
#include <cstring>

namespace
{
// Allocations left before the one that fails; negative when none is to fail.
int s_nAllocationsBeforeFailure = -1;

void* Allocate(size_t cb)
{
    if (s_nAllocationsBeforeFailure == 0)
    {
        s_nAllocationsBeforeFailure = -1;
        return nullptr;
    }
    if (s_nAllocationsBeforeFailure > 0)
        --s_nAllocationsBeforeFailure;
    return std::malloc(cb);
}
}  // namespace

void CItemArray::FailAllocationAfter(int nSucceeding)
{
    s_nAllocationsBeforeFailure = nSucceeding;
}

CItemArray::CItemArray(size_t cbItem, UINT nGrowBy, UINT nInitial)
    : m_pItems(nullptr), m_nGrowBy(nGrowBy ? nGrowBy : 10), m_nCount(0), m_nCapacity(0), m_cbItem(cbItem)
{
    for (UINT i = 0; i < nInitial; ++i)
    {
        if (!Append(nullptr))
            break;
    }
}

CItemArray::~CItemArray()
{
    Clear();
}

CItemArray& CItemArray::operator=(const CItemArray& source)
{
    CopyFrom(source);
    return *this;
}

bool CItemArray::CopyFrom(const CItemArray& source)
{
    if (this == &source)
        return true;
    // The copy is built aside and swapped in, so a failed allocation leaves
    // this array as it was. Its grow step is the source's count, so the block
    // is allocated once, with exactly as many slots as there are elements.
    CItemArray copy(source.m_cbItem, source.m_nCount);
    for (UINT i = 0; i < source.m_nCount; ++i)
    {
        if (!copy.Append(source.m_pItems[i]))
            return false;
    }
    copy.m_nGrowBy = source.m_nGrowBy ? source.m_nGrowBy : 10;

    Clear();
    m_pItems = copy.m_pItems;
    m_nGrowBy = copy.m_nGrowBy;
    m_nCount = copy.m_nCount;
    m_nCapacity = copy.m_nCapacity;
    m_cbItem = copy.m_cbItem;
    copy.m_pItems = nullptr;
    copy.m_nCount = 0;
    copy.m_nCapacity = 0;
    return true;
}

bool CItemArray::Insert(UINT nIndex, const void* pItem)
{
    if (nIndex > m_nCount || m_nCount == UINT_MAX)
        return false;
    // The element first: should the block then fail, nothing has changed yet.
    void* pElement = Allocate(m_cbItem ? m_cbItem : 1);
    if (!pElement)
        return false;
    if (pItem)
        std::memcpy(pElement, pItem, m_cbItem);
    else
        std::memset(pElement, 0, m_cbItem);

    if (m_nCapacity == m_nCount)
    {
        if (m_nCapacity > UINT_MAX - m_nGrowBy || !Reallocate(m_nCapacity + m_nGrowBy))
        {
            std::free(pElement);
            return false;
        }
    }
    std::memmove(&m_pItems[nIndex + 1], &m_pItems[nIndex], (m_nCount - nIndex) * sizeof(void*));
    m_pItems[nIndex] = pElement;
    ++m_nCount;
    return true;
}

bool CItemArray::Append(const void* pItem)
{
    return Insert(m_nCount, pItem);
}

bool CItemArray::Remove(UINT nIndex)
{
    if (nIndex >= m_nCount || !m_pItems || !m_pItems[nIndex])
        return false;
    std::free(m_pItems[nIndex]);
    --m_nCount;
    std::memmove(&m_pItems[nIndex], &m_pItems[nIndex + 1], (m_nCount - nIndex) * sizeof(void*));

    // Shrink to an exact fit once a whole grow step is free. Should that
    // allocation fail, the larger block simply stays: the removal has happened.
    if (static_cast<ULONGLONG>(m_nCapacity) == static_cast<ULONGLONG>(m_nCount) + m_nGrowBy)
        Reallocate(m_nCount);
    return true;
}

void* CItemArray::Get(UINT nIndex) const
{
    return nIndex < m_nCount ? m_pItems[nIndex] : nullptr;
}

void CItemArray::Clear()
{
    for (UINT i = 0; i < m_nCount; ++i)
        std::free(m_pItems[i]);
    std::free(m_pItems);
    m_pItems = nullptr;
    m_nCount = 0;
    m_nCapacity = 0;
}

bool CItemArray::Reallocate(UINT nCapacity)
{
    void** pNew = nullptr;
    if (nCapacity > 0)
    {
        if (nCapacity > SIZE_MAX / sizeof(void*))
            return false;
        pNew = static_cast<void**>(Allocate(nCapacity * sizeof(void*)));
        if (!pNew)
            return false;
        std::memcpy(pNew, m_pItems, (m_nCount < nCapacity ? m_nCount : nCapacity) * sizeof(void*));
    }
    std::free(m_pItems);
    m_pItems = pNew;
    m_nCapacity = nCapacity;
    return true;
}
