#include <gtest/gtest.h>

#include <cstring>

#include "kit/KitString.h"

TEST(KitString, SetAppendInsertDelete)
{
  KitString s;
  EXPECT_STREQ("", s.Get());
  EXPECT_EQ(0, s.GetLength());

  s.Set("Quill");
  s.Append("marshworks");
  EXPECT_STREQ("Quillmarshworks", s.Get());
  EXPECT_EQ(15, s.GetLength());

  s.Insert("-", 5);
  EXPECT_STREQ("Quill-marshworks", s.Get());
  s.Insert(">", -3); // clipped to the front
  s.Insert("<", 1000); // clipped to the end
  EXPECT_STREQ(">Quill-marshworks<", s.Get());

  s.DeleteSub(0, 1);
  s.DeleteSub(5, 1);
  s.DeleteSub(14, 50); // clipped
  EXPECT_STREQ("Quillmarshwork", s.Get());
  s.DeleteSub(-1, 3);
  s.DeleteSub(100, 3);
  EXPECT_STREQ("Quillmarshwork", s.Get());

  s.Set(nullptr);
  EXPECT_STREQ("", s.Get());
  s.Append(nullptr);
  EXPECT_STREQ("", s.Get());
}

TEST(KitString, MaxLenBoundsReadsOfUnterminatedSources)
{
  // Exactly four readable bytes, no terminator.
  const char raw[4] = {'a', 'b', 'c', 'd'};
  KitString s(raw, 4);
  EXPECT_STREQ("abcd", s.Get());
  s.Set("hello world", 5);
  EXPECT_STREQ("hello", s.Get());
  s.Append(raw, 2);
  EXPECT_STREQ("helloab", s.Get());
  // maxLen beyond the terminator stops at the terminator.
  s.Set("xy", 100);
  EXPECT_EQ(2, s.GetLength());
}

TEST(KitString, SourcesInsideTheStringItself)
{
  KitString s("hello");
  s.Append(s.Get());
  EXPECT_STREQ("hellohello", s.Get());
  s.Insert(s.Get() + 2, 1, 3);
  EXPECT_STREQ("hlloellohello", s.Get());
  s.Set(s.Get() + 9);
  EXPECT_STREQ("ello", s.Get());
  s.SetFormatted(-1, "[%s|%s]", s.Get(), s.Get());
  EXPECT_STREQ("[ello|ello]", s.Get());
}

TEST(KitString, FormattedOutputIsCutToMaxLen)
{
  KitString s;
  s.SetFormatted(64, "v%d.%d.%d", 3, 3, 0);
  EXPECT_STREQ("v3.3.0", s.Get());
  s.AppendFormatted(4, " %s", "Quillmarshworks");
  EXPECT_STREQ("v3.3.0 Qui", s.Get());
  s.SetFormatted(3, "%.2f", 1e300); // the full text is over 300 characters
  EXPECT_STREQ("100", s.Get());
  s.SetFormatted(-1, "%.2f", 1e300);
  EXPECT_EQ(304, s.GetLength());
}

TEST(KitString, SetLenPadsAndCuts)
{
  KitString s("abc");
  s.SetLen(5, '.');
  EXPECT_STREQ("abc..", s.Get());
  s.SetLen(2);
  EXPECT_STREQ("ab", s.Get());
  EXPECT_FALSE(s.SetLen(-1));
  EXPECT_STREQ("ab", s.Get());
  s.SetLen(0);
  EXPECT_STREQ("", s.Get());
}

TEST(KitString, CopiesAreIndependent)
{
  KitString a("one");
  KitString b(a);
  KitString c;
  c = a;
  a.Append("two");
  EXPECT_STREQ("onetwo", a.Get());
  EXPECT_STREQ("one", b.Get());
  EXPECT_STREQ("one", c.Get());
  c = "three";
  EXPECT_STREQ("three", c.Get());
}

TEST(KitString, BoundedCopiesNeverPassTheirCapacity)
{
  char buf[8];
  memset(buf, 'Z', sizeof(buf));
  // Capacity 4 of an 8-byte buffer: three characters and the terminator.
  EXPECT_EQ(3, KitStrCopy(buf, "abcdef", 4));
  EXPECT_STREQ("abc", buf);
  EXPECT_EQ('Z', buf[4]);
  EXPECT_EQ(0, KitStrCopy(buf, nullptr, 8));
  EXPECT_STREQ("", buf);
  buf[0] = 'Q';
  EXPECT_EQ(0, KitStrCopy(buf, "abc", 0));
  EXPECT_EQ('Q', buf[0]);

  KitString s("0123456789");
  memset(buf, 'Z', sizeof(buf));
  EXPECT_EQ(7, s.CopyTo(buf, 8));
  EXPECT_STREQ("0123456", buf);
}
