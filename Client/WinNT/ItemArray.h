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
    // Makes this array an independent copy of source (same element size).
    CItemArray& operator=(const CItemArray& source);

    // Inserts a copy of the cbItem bytes at pItem at nIndex (0 to count).
    bool Insert(UINT nIndex, const void* pItem);
    bool Append(const void* pItem);
    // Frees the element at nIndex and closes the gap.
    bool Remove(UINT nIndex);
    // The element at nIndex (below the count; not checked), changeable in place.
    void* Get(UINT nIndex) const;
    UINT GetCount() const { return m_nCount; }
    UINT GetCapacity() const { return m_nCapacity; }
    UINT GetGrowBy() const { return m_nGrowBy; }
    size_t GetItemSize() const { return m_cbItem; }
    // Frees every element and the block; the grow step stays.
    void Clear();

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
