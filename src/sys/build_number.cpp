#include "sys/build_number.h"

namespace {

const DWORD FixedInfoSignature = 0xFEEF04BD;

}  // namespace

LONG BuildNumber(LPCWSTR path) {
  DWORD handle = 0;
  DWORD size = GetFileVersionInfoSizeW(path, &handle);
  if (size == 0) return -1;
  BYTE *block = (BYTE *)GlobalAlloc(GPTR, size);
  if (block == nullptr) return -1;
  LONG build = -1;
  void *value = nullptr;
  UINT length = 0;
  if (GetFileVersionInfoW(path, handle, size, block) && VerQueryValueW(block, W("\\"), &value, &length) &&
      value != nullptr && length >= sizeof(VS_FIXEDFILEINFO)) {
    const VS_FIXEDFILEINFO *fixed = (const VS_FIXEDFILEINFO *)value;
    // Only a genuine fixed-information record carries a version.
    if (fixed->dwSignature == FixedInfoSignature) build = (LONG)(fixed->dwProductVersionLS & 0xFFFF);
  }
  GlobalFree(block);
  return build;
}
