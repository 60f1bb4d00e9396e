// A file's bytes as the version calls read them: winsim's
// GetFileVersionInfoSizeW, GetFileVersionInfoW and VerQueryValueW over any
// content (also into a buffer shorter than the resource), and the
// installer's BuildNumber.
//
// Input: two bytes that pick the buffer's size as a share of what the size
// call asks for, then the file's bytes.
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_machine.h"
#include "sys/build_number.h"

namespace {

using fuzzsupport::Expect;

const char kFile[] = "C:\\Fuzz\\gwrdrv64.dll";
const char16_t kFileW[] = u"C:\\Fuzz\\gwrdrv64.dll";

const char16_t *const kQueries[] = {
    u"\\",
    u"\\VarFileInfo\\Translation",
    u"\\StringFileInfo\\040904B0\\ProductVersion",
    u"\\StringFileInfo\\040904b0\\FileVersion",
    u"\\StringFileInfo",
    u"\\\\StringFileInfo\\\\040904E4",
    u"",
    u"\\VarFileInfo",
};

// Every value VerQueryValueW hands out lies inside the block.
void QueryAll(const std::vector<uint8_t> &block) {
  for (const char16_t *query : kQueries) {
    void *value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), query, &value, &length)) continue;
    const uint8_t *begin = block.data();
    const uint8_t *at = static_cast<const uint8_t *>(value);
    Expect(at >= begin && at <= begin + block.size(), "a value outside the block");
    // Texts are counted in characters, other values in bytes: at least
    // `length` bytes lie inside the block either way.
    size_t bytes = length;
    if (bytes > 0) {
      volatile uint8_t sum = 0;
      for (size_t i = 0; i < bytes; ++i) sum = static_cast<uint8_t>(sum + at[i]);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzzsupport::NewFuzzMachine();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  uint16_t share = size >= 2 ? static_cast<uint16_t>(data[0] | (data[1] << 8)) : 0xFFFF;
  std::string bytes(reinterpret_cast<const char *>(data) + (size >= 2 ? 2 : 0), size >= 2 ? size - 2 : 0);
  winsim::WriteHostFile(kFile, bytes);
  winsim::BeginProcess(u"install.exe onChkDrv");

  LONG build = BuildNumber(kFileW);
  Expect(build >= -1 && build <= 65535, "build " + std::to_string(build));
  fuzzsupport::ExpectNoLeaks("BuildNumber");

  DWORD handle = 0;
  DWORD needed = GetFileVersionInfoSizeW(kFileW, &handle);
  if (needed == 0) {
    Expect(build == -1, "a build without a version resource");
    return 0;
  }
  Expect(needed <= 2 * bytes.size() + 4, "a resource larger than the file");

  // The whole resource, then a buffer of a share of it.
  std::vector<uint8_t> block(needed);
  if (GetFileVersionInfoW(kFileW, handle, needed, block.data())) QueryAll(block);
  DWORD shorter = static_cast<DWORD>((static_cast<uint64_t>(needed) * share) >> 16);
  if (shorter > 0) {
    std::vector<uint8_t> part(shorter);
    if (GetFileVersionInfoW(kFileW, handle, shorter, part.data())) QueryAll(part);
  }
  return 0;
}
