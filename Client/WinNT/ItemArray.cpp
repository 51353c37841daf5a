// STUB: replaced by the item array.
#include "Client/WinNT/ItemArray.h"

CItemArray::CItemArray(size_t cbItem, UINT nGrowBy, UINT)
    : m_pItems(nullptr), m_nGrowBy(nGrowBy ? nGrowBy : 10), m_nCount(0), m_nCapacity(0), m_cbItem(cbItem) {}
CItemArray::~CItemArray() {}
CItemArray& CItemArray::operator=(const CItemArray&) { return *this; }
bool CItemArray::Insert(UINT, const void*) { return false; }
bool CItemArray::Append(const void*) { return false; }
bool CItemArray::Remove(UINT) { return false; }
void* CItemArray::Get(UINT) const { return nullptr; }
void CItemArray::Clear() {}
bool CItemArray::Reallocate(UINT) { return false; }
