#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "kit/KitHeapBuf.h"
#include "kit/KitPtrList.h"
#include "kit/KitTypedBuf.h"

TEST(KitHeapBuf, GrowsInStepsOfTheGranularityAndZeroesNewBytes)
{
  KitHeapBuf b(16);
  EXPECT_EQ(nullptr, b.Get());
  EXPECT_EQ(0, b.GetSize());

  unsigned char* p = (unsigned char*)b.Resize(5);
  ASSERT_NE(nullptr, p);
  EXPECT_EQ(5, b.GetSize());
  EXPECT_EQ(16, b.GetAlloc());
  for (int i = 0; i < 5; ++i) EXPECT_EQ(0, p[i]);

  memset(p, 0xAB, 5);
  p = (unsigned char*)b.Resize(17);
  ASSERT_NE(nullptr, p);
  EXPECT_EQ(32, b.GetAlloc());
  EXPECT_EQ(0xAB, p[4]);
  EXPECT_EQ(0, p[5]);
  EXPECT_EQ(0, p[16]);

  // Shrinking without resizeDown keeps the storage; with it, releases it.
  b.Resize(3, false);
  EXPECT_EQ(3, b.GetSize());
  EXPECT_EQ(32, b.GetAlloc());
  b.Resize(3, true);
  EXPECT_EQ(16, b.GetAlloc());
  // Growing again zeroes what was cut off before.
  p = (unsigned char*)b.Resize(5);
  EXPECT_EQ(0xAB, p[2]);
  EXPECT_EQ(0, p[3]);
  EXPECT_EQ(0, p[4]);

  b.Resize(0);
  EXPECT_EQ(0, b.GetSize());
  EXPECT_EQ(nullptr, b.Get());
}

TEST(KitHeapBuf, RejectsNegativeAndOverflowingSizesWithoutChange)
{
  KitHeapBuf b(8);
  ASSERT_NE(nullptr, b.Resize(10));
  memset(b.Get(), 7, 10);
  void* before = b.Get();

  EXPECT_EQ(nullptr, b.Resize(-1));
  EXPECT_EQ(nullptr, b.Grow(-1));
  EXPECT_EQ(nullptr, b.Grow(INT_MAX - 5)); // 10 + that exceeds INT_MAX
  EXPECT_FALSE(b.Insert(0, nullptr, INT_MAX - 5));
  EXPECT_FALSE(b.Insert(11, nullptr, 1)); // past the end
  EXPECT_FALSE(b.Insert(-1, nullptr, 1));
  EXPECT_FALSE(b.Insert(0, nullptr, -3));
  EXPECT_FALSE(b.Delete(10, 1));
  EXPECT_FALSE(b.Delete(-1, 1));

  EXPECT_EQ(10, b.GetSize());
  EXPECT_EQ(before, b.Get());
  for (int i = 0; i < 10; ++i) EXPECT_EQ(7, ((unsigned char*)b.Get())[i]);
}

TEST(KitHeapBuf, InsertDeleteAndGrowKeepTheRightBytes)
{
  KitHeapBuf b(4);
  ASSERT_TRUE(b.Insert(0, "abef", 4));
  ASSERT_TRUE(b.Insert(2, "cd", 2));
  ASSERT_EQ(6, b.GetSize());
  EXPECT_EQ(0, memcmp(b.Get(), "abcdef", 6));

  ASSERT_TRUE(b.Insert(6, nullptr, 2)); // zeroed tail
  EXPECT_EQ(0, ((char*)b.Get())[6]);
  EXPECT_EQ(0, ((char*)b.Get())[7]);

  // Deleting past the end is clipped to the buffer.
  ASSERT_TRUE(b.Delete(4, 100));
  ASSERT_EQ(4, b.GetSize());
  EXPECT_EQ(0, memcmp(b.Get(), "abcd", 4));
  ASSERT_TRUE(b.Delete(0, 1));
  EXPECT_EQ(0, memcmp(b.Get(), "bcd", 3));

  char* tail = (char*)b.Grow(2);
  ASSERT_NE(nullptr, tail);
  EXPECT_EQ((char*)b.Get() + 3, tail);
  EXPECT_EQ(5, b.GetSize());
}

TEST(KitHeapBuf, InsertFromItsOwnBytesSurvivesReallocation)
{
  KitHeapBuf b(1); // every growth reallocates
  ASSERT_TRUE(b.Insert(0, "0123456789", 10));
  // Source straddles the insertion point: "3456" inserted at 5.
  ASSERT_TRUE(b.Insert(5, (char*)b.Get() + 3, 4));
  ASSERT_EQ(14, b.GetSize());
  EXPECT_EQ(0, memcmp(b.Get(), "01234345656789", 14));
  // Whole buffer appended to itself.
  KitHeapBuf c(1);
  c.Insert(0, "xyz", 3);
  ASSERT_TRUE(c.Insert(3, c.Get(), 3));
  EXPECT_EQ(0, memcmp(c.Get(), "xyzxyz", 6));
}

TEST(KitHeapBuf, CopyFromDuplicatesContents)
{
  KitHeapBuf a(4), b(64);
  a.Insert(0, "hello", 5);
  ASSERT_TRUE(b.CopyFrom(a));
  EXPECT_EQ(5, b.GetSize());
  EXPECT_EQ(0, memcmp(b.Get(), "hello", 5));
  EXPECT_NE(a.Get(), b.Get());
  KitHeapBuf empty;
  ASSERT_TRUE(b.CopyFrom(empty));
  EXPECT_EQ(0, b.GetSize());
}

TEST(KitTypedBuf, AddInsertDeleteFindOnDoubles)
{
  KitTypedBuf<double> d;
  EXPECT_EQ(0, d.GetSize());
  EXPECT_EQ(nullptr, d.GetPtr(0));
  ASSERT_NE(nullptr, d.Add(1.5));
  ASSERT_NE(nullptr, d.Add(3.25));
  ASSERT_NE(nullptr, d.Insert(-2.0, 1));
  ASSERT_EQ(3, d.GetSize());
  EXPECT_EQ(24, d.GetSizeBytes());
  EXPECT_EQ(1.5, d.Get()[0]);
  EXPECT_EQ(-2.0, d.Get()[1]);
  EXPECT_EQ(3.25, d.Get()[2]);
  EXPECT_EQ(2, d.Find(3.25));
  EXPECT_EQ(-1, d.Find(4.0));

  // Adding an element of the array itself while it must grow.
  KitTypedBuf<double> e(8);
  e.Add(9.0);
  ASSERT_NE(nullptr, e.Add(e.Get()[0]));
  EXPECT_EQ(9.0, e.Get()[1]);

  EXPECT_TRUE(d.Delete(0));
  EXPECT_EQ(2, d.GetSize());
  EXPECT_EQ(-2.0, d.Get()[0]);
  EXPECT_FALSE(d.Delete(2));
  EXPECT_TRUE(d.Delete(1, 50)); // clipped
  EXPECT_EQ(1, d.GetSize());

  double three[3] = {7, 8, 9};
  ASSERT_NE(nullptr, d.Add(three, 3));
  ASSERT_EQ(4, d.GetSize());
  EXPECT_EQ(9.0, d.Get()[3]);
  ASSERT_NE(nullptr, d.Add(nullptr, 2)); // zeroed
  EXPECT_EQ(0.0, d.Get()[5]);
}

TEST(KitTypedBuf, CountsThatOverflowBytesAreRefused)
{
  KitTypedBuf<double> d;
  ASSERT_NE(nullptr, d.Resize(4));
  d.Get()[3] = 42.0;
  // INT_MAX / 4 doubles is more than INT_MAX bytes.
  EXPECT_EQ(nullptr, d.Resize(INT_MAX / 4));
  EXPECT_EQ(nullptr, d.Resize(-1));
  EXPECT_FALSE(d.Insert(nullptr, INT_MAX / 8 + 1, 0));
  EXPECT_FALSE(d.Insert(nullptr, 1, 5)); // index past the end
  ASSERT_EQ(4, d.GetSize());
  EXPECT_EQ(42.0, d.Get()[3]);
  // Resize zeroes new elements.
  ASSERT_NE(nullptr, d.Resize(6));
  EXPECT_EQ(0.0, d.Get()[4]);
  EXPECT_EQ(0.0, d.Get()[5]);
}

namespace
{
struct Counted
{
  explicit Counted(int* c) : count(c) { ++*count; }
  ~Counted() { --*count; }
  int* count;
};
} // namespace

TEST(KitPtrList, DeletesElementsOnlyWhenAsked)
{
  int alive = 0;
  KitPtrList<Counted> l;
  Counted* a = l.Add(new Counted(&alive));
  Counted* b = l.Add(new Counted(&alive));
  Counted* c = l.Insert(0, new Counted(&alive));
  ASSERT_EQ(3, alive);
  ASSERT_EQ(3, l.GetSize());
  EXPECT_EQ(c, l.Get(0));
  EXPECT_EQ(a, l.Get(1));
  EXPECT_EQ(b, l.GetLast());
  EXPECT_EQ(2, l.Find(b));
  EXPECT_EQ(nullptr, l.Get(3));
  EXPECT_EQ(nullptr, l.Get(-1));

  ASSERT_TRUE(l.Delete(0, false));
  EXPECT_EQ(3, alive);
  delete c;
  ASSERT_TRUE(l.Delete(0, true));
  EXPECT_EQ(1, alive);
  EXPECT_EQ(b, l.Get(0));
  EXPECT_FALSE(l.Delete(5, true));

  l.Add(new Counted(&alive));
  l.Add(new Counted(&alive));
  EXPECT_EQ(3, alive);
  l.Empty(true);
  EXPECT_EQ(0, alive);
  EXPECT_EQ(0, l.GetSize());
}

TEST(KitPtrList, InsertClipsAndSetReplaces)
{
  int x = 1, y = 2, z = 3;
  KitPtrList<int> l;
  l.Insert(-5, &x); // clipped to the front
  l.Insert(99, &y); // clipped to the end
  ASSERT_EQ(2, l.GetSize());
  EXPECT_EQ(&x, l.Get(0));
  EXPECT_EQ(&y, l.Get(1));
  EXPECT_TRUE(l.Set(1, &z));
  EXPECT_EQ(&z, l.Get(1));
  EXPECT_FALSE(l.Set(2, &z));
  EXPECT_EQ(-1, l.Find(&y));
  l.Empty();
  EXPECT_EQ(0, l.GetSize());
  EXPECT_EQ(nullptr, l.GetLast());
}
