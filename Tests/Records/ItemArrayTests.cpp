#include "Client/WinNT/ItemArray.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace
{
struct Item
{
    char  szName[12];
    DWORD dwValue;
};

Item MakeItem(DWORD dwValue)
{
    Item item = {};
    item.szName[0] = static_cast<char>('a' + dwValue % 26);
    item.dwValue = dwValue;
    return item;
}

std::vector<DWORD> Values(const CItemArrayOf<Item>& items)
{
    std::vector<DWORD> values;
    for (UINT i = 0; i < items.GetCount(); ++i)
        values.push_back(items[i].dwValue);
    return values;
}

// Turns the allocation seam off again whatever the test did.
struct CAllocationSeamOff
{
    ~CAllocationSeamOff() { CItemArray::FailAllocationAfter(-1); }
};
}  // namespace

TEST(ItemArray, BlockGrowsAndShrinksByWholeSteps)
{
    CItemArrayOf<Item> items;
    EXPECT_EQ(10u, items.GetGrowBy());
    std::vector<UINT> capacities;
    for (DWORD n = 0; n < 25; ++n)
    {
        ASSERT_TRUE(items.Append(MakeItem(n)));
        if (capacities.empty() || capacities.back() != items.GetCapacity())
            capacities.push_back(items.GetCapacity());
    }
    EXPECT_EQ((std::vector<UINT>{ 10, 20, 30 }), capacities);

    // Down to 21: capacity 30 is count + 10 only at count 20.
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(items.Remove(0));
    EXPECT_EQ(30u, items.GetCapacity());
    ASSERT_TRUE(items.Remove(0));
    EXPECT_EQ(20u, items.GetCount());
    EXPECT_EQ(20u, items.GetCapacity());

    // With 11 elements and capacity 20, one removal fits the block exactly,
    // the next leaves it alone.
    for (int i = 0; i < 9; ++i)
        ASSERT_TRUE(items.Remove(0));
    ASSERT_EQ(11u, items.GetCount());
    ASSERT_EQ(20u, items.GetCapacity());
    ASSERT_TRUE(items.Remove(0));
    EXPECT_EQ(10u, items.GetCapacity());
    ASSERT_TRUE(items.Remove(0));
    EXPECT_EQ(9u, items.GetCount());
    EXPECT_EQ(10u, items.GetCapacity());
    EXPECT_EQ((std::vector<DWORD>{ 16, 17, 18, 19, 20, 21, 22, 23, 24 }), Values(items));

    // Removing the only element of a 10-slot block frees the block; the next
    // append takes a whole step again.
    CItemArrayOf<Item> one;
    ASSERT_TRUE(one.Append(MakeItem(1)));
    ASSERT_TRUE(one.Remove(0));
    EXPECT_EQ(0u, one.GetCount());
    EXPECT_EQ(0u, one.GetCapacity());
    ASSERT_TRUE(one.Append(MakeItem(2)));
    EXPECT_EQ(10u, one.GetCapacity());

    // At the boundary, alternating append and remove grows and shrinks each time.
    for (int i = 0; i < 3; ++i)
    {
        ASSERT_TRUE(items.Append(MakeItem(99)));
        ASSERT_TRUE(items.Append(MakeItem(99)));
        EXPECT_EQ(20u, items.GetCapacity());
        ASSERT_TRUE(items.Remove(items.GetCount() - 1));
        EXPECT_EQ(10u, items.GetCapacity());
        ASSERT_TRUE(items.Remove(items.GetCount() - 1));
    }
}

TEST(ItemArray, ConstructionGrowStepsAndClear)
{
    CItemArrayOf<Item> zeroStep(0);
    EXPECT_EQ(10u, zeroStep.GetGrowBy());
    ASSERT_TRUE(zeroStep.Append(MakeItem(1)));
    EXPECT_EQ(10u, zeroStep.GetCapacity());

    CItemArrayOf<Item> zeroed(5, 3);
    EXPECT_EQ(3u, zeroed.GetCount());
    EXPECT_EQ(5u, zeroed.GetCapacity());
    const Item empty = {};
    for (UINT i = 0; i < zeroed.GetCount(); ++i)
        EXPECT_EQ(0, std::memcmp(&empty, zeroed.Get(i), sizeof(Item))) << i;

    // Elements are changed in place through Get.
    CItemArrayOf<DWORD> flags(4, 4);
    flags[2] = 7;
    EXPECT_EQ(7u, *flags.Get(2));
    EXPECT_EQ(0u, *flags.Get(3));

    CItemArrayOf<Item> seven(7);
    for (DWORD n = 0; n < 8; ++n)
        ASSERT_TRUE(seven.Append(MakeItem(n)));
    EXPECT_EQ(14u, seven.GetCapacity());
    seven.Clear();
    EXPECT_EQ(0u, seven.GetCount());
    EXPECT_EQ(0u, seven.GetCapacity());
    EXPECT_EQ(7u, seven.GetGrowBy());
    ASSERT_TRUE(seven.Append(MakeItem(1)));
    EXPECT_EQ(7u, seven.GetCapacity());
}

TEST(ItemArray, InsertAndRemoveKeepOrderAndAddresses)
{
    CItemArrayOf<Item> items;
    ASSERT_TRUE(items.Append(MakeItem(1)));
    ASSERT_TRUE(items.Append(MakeItem(2)));
    ASSERT_TRUE(items.Insert(0, MakeItem(0)));
    EXPECT_EQ((std::vector<DWORD>{ 0, 1, 2 }), Values(items));
    ASSERT_TRUE(items.Insert(2, MakeItem(9)));
    EXPECT_EQ((std::vector<DWORD>{ 0, 1, 9, 2 }), Values(items));
    EXPECT_FALSE(items.Insert(5, MakeItem(5)));
    EXPECT_FALSE(items.Remove(4));
    EXPECT_EQ(nullptr, items.Get(4));
    EXPECT_EQ((std::vector<DWORD>{ 0, 1, 9, 2 }), Values(items));
    ASSERT_TRUE(items.Remove(2));
    EXPECT_EQ((std::vector<DWORD>{ 0, 1, 2 }), Values(items));

    // The queue keeps a pointer to its head while others append behind it.
    Item* pHead = items.Get(0);
    Item* pLast = items.Get(2);
    for (DWORD n = 10; n < 60; ++n)
        ASSERT_TRUE(items.Append(MakeItem(n)));
    EXPECT_EQ(pHead, items.Get(0));
    EXPECT_EQ(pLast, items.Get(2));
    ASSERT_TRUE(items.Remove(1));
    EXPECT_EQ(pLast, items.Get(1));
    EXPECT_EQ(2u, pLast->dwValue);
    EXPECT_EQ('c', pLast->szName[0]);

    CItemArrayOf<Item> none;
    EXPECT_FALSE(none.Remove(0));
}

TEST(ItemArray, AssignmentMakesAnIndependentExactCopy)
{
    CItemArrayOf<Item> source;
    for (DWORD n = 0; n < 13; ++n)
        ASSERT_TRUE(source.Append(MakeItem(n)));
    CItemArrayOf<Item> copy;
    ASSERT_TRUE(copy.Append(MakeItem(100)));

    copy = source;
    EXPECT_EQ(Values(source), Values(copy));
    EXPECT_EQ(13u, copy.GetCapacity());
    EXPECT_EQ(10u, copy.GetGrowBy());
    EXPECT_NE(source.Get(0), copy.Get(0));
    copy[0].dwValue = 77;
    EXPECT_EQ(0u, source[0].dwValue);
    ASSERT_TRUE(copy.Append(MakeItem(13)));
    EXPECT_EQ(23u, copy.GetCapacity());

    CItemArrayOf<Item> emptySource(4);
    copy = emptySource;
    EXPECT_EQ(0u, copy.GetCount());
    EXPECT_EQ(4u, copy.GetGrowBy());

    source = source;
    EXPECT_EQ(13u, source.GetCount());
    EXPECT_EQ(12u, source[12].dwValue);
}

TEST(ItemArray, AFailedAllocationChangesNothing)
{
    CAllocationSeamOff seamOff;
    CItemArrayOf<Item> items;
    for (DWORD n = 0; n < 10; ++n)
        ASSERT_TRUE(items.Append(MakeItem(n)));
    std::vector<Item*> addresses;
    for (UINT i = 0; i < items.GetCount(); ++i)
        addresses.push_back(items.Get(i));
    const std::vector<DWORD> values = Values(items);

    // The block is full: the element and then the larger block are allocated.
    for (int nSucceeding : { 0, 1 })
    {
        for (UINT nIndex : { 0u, 5u, 10u })
        {
            CItemArray::FailAllocationAfter(nSucceeding);
            EXPECT_FALSE(items.Insert(nIndex, MakeItem(50))) << nSucceeding << " " << nIndex;
            EXPECT_EQ(10u, items.GetCapacity());
            EXPECT_EQ(values, Values(items));
            for (UINT i = 0; i < items.GetCount(); ++i)
                EXPECT_EQ(addresses[i], items.Get(i));
        }
    }

    // A failed copy leaves the destination as it was.
    CItemArrayOf<Item> copy;
    ASSERT_TRUE(copy.Append(MakeItem(100)));
    for (int nSucceeding : { 0, 1, 5, 10 })
    {
        CItemArray::FailAllocationAfter(nSucceeding);
        EXPECT_FALSE(copy.CopyFrom(items)) << nSucceeding;
        EXPECT_EQ((std::vector<DWORD>{ 100 }), Values(copy));
    }
    CItemArray::FailAllocationAfter(-1);
    EXPECT_TRUE(copy.CopyFrom(items));
    EXPECT_EQ(values, Values(copy));

    // A removal that cannot shrink the block still removes.
    ASSERT_TRUE(items.Append(MakeItem(10)));
    CItemArray::FailAllocationAfter(0);
    EXPECT_TRUE(items.Remove(0));
    EXPECT_EQ(10u, items.GetCount());
    EXPECT_EQ(20u, items.GetCapacity());
    EXPECT_EQ(1u, items[0].dwValue);
}
