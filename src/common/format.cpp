#include "common/format.h"

#include <cstdint>

namespace {

// Output into a bounded buffer; once a unit does not fit, nothing more is taken.
struct Output {
  WCHAR *Buffer;
  DWORD Room;  // units available for text (capacity minus the terminator)
  DWORD Length;
  BOOL Cut;
};

void Put(Output *out, WCHAR c) {
  if (out->Cut) return;
  if (out->Length >= out->Room) {
    out->Cut = TRUE;
    return;
  }
  out->Buffer[out->Length++] = c;
}

void PutText(Output *out, LPCWSTR text) {
  if (text == nullptr) return;
  for (; *text != 0 && !out->Cut; ++text) Put(out, *text);
}

void PutUnsigned(Output *out, uint32_t value, uint32_t base) {
  WCHAR digits[16];
  int n = 0;
  do {
    uint32_t d = value % base;
    digits[n++] = (WCHAR)(d < 10 ? '0' + d : 'a' + (d - 10));
    value /= base;
  } while (value != 0);
  while (n > 0) Put(out, digits[--n]);
}

BOOL IsHighSurrogate(WCHAR c) {
  return c >= 0xD800 && c <= 0xDBFF;
}

}  // namespace

FormatResult FormatTextV(WCHAR *buffer, DWORD capacity, LPCWSTR format, va_list args) {
  FormatResult result = {0, FALSE};
  if (buffer == nullptr || capacity == 0) {
    result.Cut = format != nullptr && format[0] != 0;
    return result;
  }
  Output out = {buffer, capacity - 1, 0, FALSE};
  const WCHAR *p = format == nullptr ? W("") : format;
  while (*p != 0 && !out.Cut) {
    if (*p != '%') {
      Put(&out, *p++);
      continue;
    }
    WCHAR conversion = p[1];
    if (conversion == 'd') {
      int32_t value = (int32_t)va_arg(args, int);
      if (value < 0) {
        Put(&out, '-');
        PutUnsigned(&out, (uint32_t)0 - (uint32_t)value, 10);
      } else {
        PutUnsigned(&out, (uint32_t)value, 10);
      }
      p += 2;
    } else if (conversion == 'x') {
      PutUnsigned(&out, (uint32_t)va_arg(args, unsigned int), 16);
      p += 2;
    } else if (conversion == 's') {
      PutText(&out, va_arg(args, const WCHAR *));
      p += 2;
    } else if (conversion == '%') {
      Put(&out, '%');
      p += 2;
    } else {
      // Not a conversion of this formatter: the percent sign stands as text.
      Put(&out, *p++);
    }
  }
  // A cut right behind the first half of a surrogate pair drops that half.
  if (out.Cut && out.Length > 0 && IsHighSurrogate(buffer[out.Length - 1])) --out.Length;
  buffer[out.Length] = 0;
  result.Length = out.Length;
  result.Cut = out.Cut;
  return result;
}

FormatResult FormatText(WCHAR *buffer, DWORD capacity, LPCWSTR format, ...) {
  va_list args;
  va_start(args, format);
  FormatResult result = FormatTextV(buffer, capacity, format, args);
  va_end(args);
  return result;
}
