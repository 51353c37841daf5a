// The client's one container: an ordered, growable array of owned copies of
// fixed-size plain-data elements. Only the block of element pointers grows
// and shrinks, in steps of the grow step, so an element never moves in
// memory while it is in the array.
#pragma once

#include "Common/Win32.h"

class CItemArray
{
public:
    // An array of elements of cbItem bytes; nInitial zero-filled elements are
    // appended at once. A grow step of 0 stands for 10.
    CItemArray(size_t cbItem, UINT nGrowBy = 10, UINT nInitial = 0);
    ~CItemArray();

    CItemArray(const CItemArray&) = delete;
    // Makes this array an independent copy of source (see CopyFrom).
    CItemArray& operator=(const CItemArray& source);
    // Makes this array an independent copy of source, its block sized to the
    // source's count; on a failed allocation it stays as it was and gives false.
    bool CopyFrom(const CItemArray& source);

    // Inserts a copy of the cbItem bytes at pItem (zero bytes when pItem is
    // null) at nIndex (0 to count). False, with nothing changed, when the
    // index is beyond the count or memory runs out.
    bool Insert(UINT nIndex, const void* pItem);
    // Inserts at the end.
    bool Append(const void* pItem);
    // Frees the element at nIndex and closes the gap; the block shrinks to an
    // exact fit once a whole grow step is free. False when nIndex is not below the count.
    bool Remove(UINT nIndex);
    // The element at nIndex, changeable in place, at the same address for as
    // long as it is in the array; null when nIndex is not below the count.
    void* Get(UINT nIndex) const;
    // Number of elements, pointer slots and the grow step.
    UINT GetCount() const { return m_nCount; }
    UINT GetCapacity() const { return m_nCapacity; }
    UINT GetGrowBy() const { return m_nGrowBy; }
    size_t GetItemSize() const { return m_cbItem; }
    // Frees every element and the block; the grow step stays.
    void Clear();

    // For tests only: the allocation after nSucceeding more successful ones
    // fails, once; a negative value turns this off. Not thread-safe.
    static void FailAllocationAfter(int nSucceeding);

private:
    bool Reallocate(UINT nCapacity);

    void** m_pItems;
    UINT   m_nGrowBy;
    UINT   m_nCount;
    UINT   m_nCapacity;
    size_t m_cbItem;
};

// Typed access for arrays of one element kind.
template <typename T>
class CItemArrayOf : public CItemArray
{
public:
    explicit CItemArrayOf(UINT nGrowBy = 10, UINT nInitial = 0) : CItemArray(sizeof(T), nGrowBy, nInitial) {}
    CItemArrayOf& operator=(const CItemArrayOf& source)
    {
        CItemArray::operator=(source);
        return *this;
    }
    bool Append(const T& item) { return CItemArray::Append(&item); }
    bool Insert(UINT nIndex, const T& item) { return CItemArray::Insert(nIndex, &item); }
    T* Get(UINT nIndex) const { return static_cast<T*>(CItemArray::Get(nIndex)); }
    T& operator[](UINT nIndex) const { return *Get(nIndex); }
};
