#include <gtest/gtest.h>

#include <cstring>

#include "kit/KitBase64.h"

namespace
{
struct Vector
{
  const char* plain;
  const char* encoded;
};
// The standard test vectors.
const Vector kVectors[] = {
  {"", ""},          {"f", "Zg=="},         {"fo", "Zm8="},         {"foo", "Zm9v"},
  {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
};
} // namespace

TEST(KitBase64, StandardVectorsEncodeAndDecode)
{
  for (const Vector& v : kVectors)
  {
    int n = (int)strlen(v.plain);
    char text[16];
    EXPECT_EQ((int)strlen(v.encoded), KitBase64EncodedLen(n));
    EXPECT_EQ((int)strlen(v.encoded), KitBase64Encode(v.plain, n, text, sizeof(text)));
    EXPECT_STREQ(v.encoded, text);

    unsigned char out[8];
    EXPECT_EQ(n, KitBase64Decode(v.encoded, -1, out, n));
    EXPECT_EQ(0, memcmp(out, v.plain, (size_t)n)) << v.encoded;
  }
}

TEST(KitBase64, AllByteValuesRoundTrip)
{
  unsigned char bytes[256];
  for (int i = 0; i < 256; ++i) bytes[i] = (unsigned char)(255 - i);
  char text[400];
  ASSERT_EQ(344, KitBase64Encode(bytes, 256, text, sizeof(text)));
  EXPECT_EQ('=', text[342]);
  EXPECT_EQ('=', text[343]);
  // "/" and "+" are used: 0xFF 0xFE 0xFD starts with "//79".
  EXPECT_EQ(0, strncmp(text, "//79", 4));
  unsigned char back[256];
  ASSERT_EQ(256, KitBase64Decode(text, -1, back, 256));
  EXPECT_EQ(0, memcmp(bytes, back, 256));
}

TEST(KitBase64, EncodeNeedsRoomForTextAndTerminator)
{
  char text[9];
  memset(text, 'Z', sizeof(text));
  // "foobar" needs 8 characters and the terminator: 8 bytes are too few.
  EXPECT_EQ(-1, KitBase64Encode("foobar", 6, text, 8));
  EXPECT_STREQ("", text);
  EXPECT_EQ('Z', text[1]);
  EXPECT_EQ(8, KitBase64Encode("foobar", 6, text, 9));
  EXPECT_STREQ("Zm9vYmFy", text);

  EXPECT_EQ(-1, KitBase64Encode("x", -1, text, 9));
  EXPECT_EQ(-1, KitBase64Encode(nullptr, 3, text, 9));
  EXPECT_EQ(-1, KitBase64Encode("x", 1, nullptr, 9));
  EXPECT_EQ(-1, KitBase64EncodedLen(-1));
  EXPECT_EQ(-1, KitBase64EncodedLen(1700000000)); // over INT_MAX characters
}

TEST(KitBase64, DecodeStopsAtBadCharactersAndAtTheDeclaredSize)
{
  unsigned char out[8];
  memset(out, 0xEE, sizeof(out));
  // Stops at the space: "Zm9v" gives "foo", the rest of out is zeroed.
  EXPECT_EQ(3, KitBase64Decode("Zm9v YmFy", -1, out, 8));
  EXPECT_EQ(0, memcmp(out, "foo\0\0\0\0\0", 8));

  // Declared size smaller than the text: further bits are dropped.
  memset(out, 0xEE, sizeof(out));
  EXPECT_EQ(2, KitBase64Decode("Zm9vYmFy", -1, out, 2));
  EXPECT_EQ('f', out[0]);
  EXPECT_EQ('o', out[1]);
  EXPECT_EQ(0xEE, out[2]); // never touched beyond the declared size

  // A length bound on the text stops it like a terminator would.
  EXPECT_EQ(3, KitBase64Decode("Zm9vYmFy", 4, out, 8));
  EXPECT_EQ(0, memcmp(out, "foo", 3));
  EXPECT_EQ(0, out[3]);

  // Two characters hold one byte; a lone character none.
  EXPECT_EQ(1, KitBase64Decode("Zg", -1, out, 8));
  EXPECT_EQ('f', out[0]);
  EXPECT_EQ(0, KitBase64Decode("Z", -1, out, 8));
  EXPECT_EQ(0, out[0]);

  // High-bit characters are outside the alphabet.
  EXPECT_EQ(0, KitBase64Decode("\xC3\xA9Zm9v", -1, out, 8));
  EXPECT_EQ(0, KitBase64Decode(nullptr, -1, out, 8));
  EXPECT_EQ(-1, KitBase64Decode("Zm9v", -1, nullptr, 8));
  EXPECT_EQ(-1, KitBase64Decode("Zm9v", -1, out, -1));
  EXPECT_EQ(0, KitBase64Decode("Zm9v", -1, nullptr, 0));
}
