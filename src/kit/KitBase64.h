#pragma once

// Standard base64 (alphabet A-Z a-z 0-9 + /, "=" padding, no line breaks).

// Characters needed to encode n bytes, without the terminator; -1 when n is
// negative or the result would not fit an int.
int KitBase64EncodedLen(int n);

// Encodes n bytes into dest and terminates it. Returns the characters
// written, or -1 (dest left as "" when capacity > 0) when dest cannot hold
// the whole text plus terminator or the arguments are bad.
int KitBase64Encode(const void* src, int n, char* dest, int destCapacity);

// Decodes text into dest. dest is zeroed first; characters are collected
// six bits at a time and each full byte is stored until destSize bytes are
// written (further bits are dropped). Decoding stops at the first character
// outside the alphabet, so at "=", at the terminator, or after srcLen
// characters (srcLen < 0: the text is NUL-terminated). Returns the bytes
// stored; bytes the text does not reach stay zero. -1 for bad arguments.
int KitBase64Decode(const char* src, int srcLen, void* dest, int destSize);
