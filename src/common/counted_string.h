// CountedString: a UTF-16 string in one block of the process heap.
//
// The block holds a 64-bit character count, then the characters, then a
// terminating zero. An empty string is no block at all: a null handle. The
// block's capacity in characters is the length plus one, rounded up to a
// multiple of 32; its size in bytes is capacity * 2 + 8. A length change
// reallocates only when the capacity changes.
//
// The owner of a handle frees it with FreeCountedString (or by setting the
// length to 0). Every operation that can fail leaves the string as it was.
#pragma once

#include <cstdint>

#include "platform/win32.h"

struct CountedStringBlock;
typedef CountedStringBlock *CountedString;

// Capacity in characters of the block for a string of `length` characters.
uint64_t CountedStringCapacity(uint64_t length);

// Number of characters; 0 for a null handle.
uint64_t CountedStringLength(CountedString s);

// The text, zero-terminated; an empty text for a null handle. Valid until the
// string is next changed. This is what goes to the system and to formatting.
LPCWSTR CountedStringText(CountedString s);

// The writable characters of a non-empty string; null for a null handle.
LPWSTR CountedStringBuffer(CountedString s);

// Sets the length to n, keeping the characters in front and storing the
// terminator at position n. n = 0 frees the block and nulls the handle.
// Returns FALSE (string unchanged) when the heap refuses the block.
BOOL SetCountedStringLength(CountedString *s, uint64_t n);

// Frees the block, if any, and nulls the handle.
void FreeCountedString(CountedString *s);

// Replaces the contents with a zero-terminated text; a null or empty text
// empties the string. The text may lie inside the string itself.
// Returns FALSE (string unchanged) when memory is short.
BOOL AssignCountedString(CountedString *s, LPCWSTR text);

// Appends a zero-terminated text; a null or empty text changes nothing. The
// text may lie inside the string itself. Returns FALSE (string unchanged)
// when memory is short.
BOOL AppendCountedString(CountedString *s, LPCWSTR text);

// Appends `count` characters of `text` (which need not be terminated).
BOOL AppendCountedChars(CountedString *s, LPCWSTR text, uint64_t count);

// A new string from an 8-bit text in the system's ANSI code page, converted
// with precomposed characters. The caller owns the result; an empty result,
// a failed conversion or a shortage of memory give the null handle.
CountedString CountedStringFromAnsi(LPCSTR text);

// A new string holding the directory part of `path`: the characters before
// its last backslash or, when it has none, before its last forward slash.
// No separator, or one at position 0 only, gives the null handle. The caller
// owns the result.
CountedString CountedStringDirectory(LPCWSTR path);
