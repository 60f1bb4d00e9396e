// Version resources read from PE images (PE32 and PE32+) on drive C:.
//
// The image is taken as untrusted data: every offset and size is checked
// against the file before it is followed, the resource directory is walked
// exactly three levels deep (type, name, language), and any inconsistency
// means "no version" with the error the system gives for it.
#include <sys/stat.h>

#include <cstring>
#include <filesystem>

#include "winsim/internal.h"
#include "winsim/winsim.h"

namespace winsim {

namespace {

const DWORD kResourceNameNotFound = 1814;  // ERROR_RESOURCE_NAME_NOT_FOUND
const DWORD kResourceLangNotFound = 1815;  // ERROR_RESOURCE_LANG_NOT_FOUND
const uint16_t kRtVersion = 16;
const uint16_t kVersionInfoId = 1;
const uint32_t kFixedInfoSignature = 0xFEEF04BD;

// Bounded little-endian reads over the file's bytes; false when the range
// does not lie inside.
struct Image {
  const uint8_t *p;
  uint64_t n;
  bool Has(uint64_t at, uint64_t len) const { return at <= n && len <= n - at; }
  bool U16(uint64_t at, uint16_t *v) const {
    if (!Has(at, 2)) return false;
    *v = static_cast<uint16_t>(p[at] | (p[at + 1] << 8));
    return true;
  }
  bool U32(uint64_t at, uint32_t *v) const {
    if (!Has(at, 4)) return false;
    *v = static_cast<uint32_t>(p[at]) | (static_cast<uint32_t>(p[at + 1]) << 8) |
         (static_cast<uint32_t>(p[at + 2]) << 16) | (static_cast<uint32_t>(p[at + 3]) << 24);
    return true;
  }
};

struct Section {
  uint32_t va, rawSize, rawAt;
};

// File offset of the range [rva, rva + len) when one section's raw data in
// the file holds all of it.
bool RvaToOffset(const Image &img, const std::vector<Section> &sections, uint64_t rva, uint64_t len,
                 uint64_t *offset) {
  for (const Section &s : sections) {
    if (rva < s.va) continue;
    uint64_t into = rva - s.va;
    uint64_t avail = s.rawSize;
    if (s.rawAt >= img.n) continue;
    if (avail > img.n - s.rawAt) avail = img.n - s.rawAt;  // a truncated file
    if (into <= avail && len <= avail - into) {
      *offset = s.rawAt + into;
      return true;
    }
  }
  return false;
}

// The resource directory at `dirOffset` (relative to the resource section):
// finds the entry with the numeric ID `id`, or the preferred language entry
// when `id` is negative. Returns the entry's OffsetToData field.
enum class Found { Yes, NoEntry, Bad };
Found FindEntry(const Image &img, const std::vector<Section> &sections, uint64_t rsrcRva, uint32_t dirOffset,
                int id, uint32_t *target) {
  uint64_t dirAt;
  if (!RvaToOffset(img, sections, rsrcRva + dirOffset, 16, &dirAt)) return Found::Bad;
  uint16_t named = 0, ids = 0;
  img.U16(dirAt + 12, &named);
  img.U16(dirAt + 14, &ids);
  uint64_t count = static_cast<uint64_t>(named) + ids;
  uint64_t entriesAt;
  if (!RvaToOffset(img, sections, rsrcRva + dirOffset + 16, count * 8, &entriesAt)) return Found::Bad;
  bool found = false;
  for (uint64_t i = 0; i < count; ++i) {
    uint32_t name = 0, data = 0;
    img.U32(entriesAt + 8 * i, &name);
    img.U32(entriesAt + 8 * i + 4, &data);
    if (id >= 0) {
      if (!(name & 0x80000000u) && name == static_cast<uint32_t>(id)) {
        *target = data;
        return Found::Yes;
      }
    } else if (!found || name == 0x0409) {
      // Languages: US English when present, otherwise the first one.
      *target = data;
      found = true;
    }
  }
  return found ? Found::Yes : Found::NoEntry;
}

// Finds the version resource of a PE image. Returns 0 and its file offset
// and size, or the error code.
DWORD FindVersionResource(const Image &img, uint64_t *dataAt, uint32_t *dataSize) {
  const DWORD kNoResources = ERROR_RESOURCE_DATA_NOT_FOUND;
  uint16_t mz = 0;
  uint32_t peAt = 0, sig = 0;
  if (!img.U16(0, &mz) || mz != 0x5A4D || !img.U32(0x3C, &peAt) || !img.U32(peAt, &sig) || sig != 0x00004550)
    return kNoResources;
  uint64_t coff = static_cast<uint64_t>(peAt) + 4;
  uint16_t sectionCount = 0, optSize = 0, magic = 0;
  if (!img.U16(coff + 2, &sectionCount) || !img.U16(coff + 16, &optSize)) return kNoResources;
  uint64_t opt = coff + 20;
  if (!img.U16(opt, &magic)) return kNoResources;
  uint32_t countAt, dirsAt;
  if (magic == 0x20B) {
    countAt = 108;
    dirsAt = 112;
  } else if (magic == 0x10B) {
    countAt = 92;
    dirsAt = 96;
  } else {
    return kNoResources;
  }
  uint32_t dirCount = 0, rsrcRva = 0, rsrcSize = 0;
  if (optSize < dirsAt + 3 * 8 || !img.U32(opt + countAt, &dirCount) || dirCount < 3 ||
      !img.U32(opt + dirsAt + 16, &rsrcRva) || !img.U32(opt + dirsAt + 20, &rsrcSize))
    return kNoResources;
  if (rsrcRva == 0 || rsrcSize == 0) return kNoResources;

  std::vector<Section> sections;
  uint64_t table = opt + optSize;
  for (uint32_t i = 0; i < sectionCount; ++i) {
    Section s{};
    uint64_t at = table + 40ull * i;
    if (!img.U32(at + 12, &s.va) || !img.U32(at + 16, &s.rawSize) || !img.U32(at + 20, &s.rawAt)) break;
    sections.push_back(s);
  }

  // Type, name and language: exactly three levels, so a directory that
  // points back at itself or at its parent cannot lead the walk round.
  uint32_t entry = 0;
  Found f = FindEntry(img, sections, rsrcRva, 0, kRtVersion, &entry);
  if (f == Found::Bad) return kNoResources;
  if (f == Found::NoEntry) return ERROR_RESOURCE_TYPE_NOT_FOUND;
  if (!(entry & 0x80000000u)) return kNoResources;
  f = FindEntry(img, sections, rsrcRva, entry & 0x7FFFFFFFu, kVersionInfoId, &entry);
  if (f == Found::Bad) return kNoResources;
  if (f == Found::NoEntry) return kResourceNameNotFound;
  if (!(entry & 0x80000000u)) return kNoResources;
  f = FindEntry(img, sections, rsrcRva, entry & 0x7FFFFFFFu, -1, &entry);
  if (f == Found::Bad) return kNoResources;
  if (f == Found::NoEntry) return kResourceLangNotFound;
  if (entry & 0x80000000u) return kNoResources;  // a fourth level: not a data entry

  uint64_t entryAt;
  uint32_t rva = 0, size = 0;
  if (!RvaToOffset(img, sections, static_cast<uint64_t>(rsrcRva) + entry, 16, &entryAt)) return kNoResources;
  img.U32(entryAt, &rva);
  img.U32(entryAt + 4, &size);
  uint64_t at;
  if (size == 0 || !RvaToOffset(img, sections, rva, size, &at)) return kNoResources;

  // The VS_VERSIONINFO block: its length inside the resource, its key, and
  // a fixed-information value that fits inside it.
  uint16_t length = 0, valueLength = 0;
  img.U16(at, &length);
  img.U16(at + 2, &valueLength);
  if (size < 40 || length < 40 || length > size) return kNoResources;
  static const char kKey[] = "VS_VERSION_INFO";
  for (int i = 0; i < 16; ++i) {
    uint16_t c = 0;
    img.U16(at + 6 + 2 * i, &c);
    if (c != static_cast<uint8_t>(kKey[i])) return kNoResources;
  }
  if (40u + valueLength > length) return kNoResources;
  *dataAt = at;
  *dataSize = size;
  return 0;
}

// Reads the file and finds its version resource; sets the last error and
// returns false when there is none.
bool LoadVersion(const std::string &path, std::string *bytes, uint64_t *at, uint32_t *size) {
  std::string host = HostPath(path);
  struct stat st;
  if (ToUtf16(path).size() >= MAX_PATH && path.rfind("\\\\?\\", 0) != 0) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  if (host.empty() || stat(host.c_str(), &st) != 0) {
    struct stat parent;
    std::string dir = host.empty() ? std::string() : std::filesystem::path(host).parent_path().string();
    bool dirThere = !dir.empty() && stat(dir.c_str(), &parent) == 0 && S_ISDIR(parent.st_mode);
    SetLastError(dirThere ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  if (internal::FileBlocked(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)) {
    SetLastError(ERROR_SHARING_VIOLATION);
    return false;
  }
  if (!ReadHostFile(path, bytes)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  Image img{reinterpret_cast<const uint8_t *>(bytes->data()), bytes->size()};
  DWORD error = FindVersionResource(img, at, size);
  if (error != 0) {
    SetLastError(error);
    return false;
  }
  return true;
}

// One block of a version resource: its extent, key and value.
struct Node {
  size_t at = 0, end = 0;
  size_t keyAt = 0, keyChars = 0;
  size_t valueAt = 0, valueBytes = 0;
  uint16_t valueLength = 0, type = 0;
  size_t childrenAt = 0;
};

size_t Align4(size_t v) {
  return (v + 3) & ~static_cast<size_t>(3);
}

uint16_t Get16(const uint8_t *b, size_t at) {
  return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}

// Parses the block at `at`, which must end by `limit`.
bool ParseNode(const uint8_t *b, size_t at, size_t limit, Node *n) {
  if (at + 6 > limit) return false;
  uint16_t length = Get16(b, at);
  if (length < 6 || at + length > limit) return false;
  n->at = at;
  n->end = at + length;
  n->valueLength = Get16(b, at + 2);
  n->type = Get16(b, at + 4);
  n->keyAt = at + 6;
  size_t k = n->keyAt;
  while (true) {
    if (k + 2 > n->end) return false;  // a key without its zero
    if (Get16(b, k) == 0) break;
    k += 2;
  }
  n->keyChars = (k - n->keyAt) / 2;
  n->valueBytes = n->type == 1 ? 2u * n->valueLength : n->valueLength;
  n->valueAt = Align4(k + 2);
  if (n->valueBytes == 0 && n->valueAt > n->end) n->valueAt = n->end;
  if (n->valueAt + n->valueBytes > n->end) return false;
  n->childrenAt = Align4(n->valueAt + n->valueBytes);
  return true;
}

bool KeyIs(const uint8_t *b, const Node &n, const std::u16string &want) {
  if (n.keyChars != want.size()) return false;
  for (size_t i = 0; i < want.size(); ++i) {
    char16_t c = Get16(b, n.keyAt + 2 * i), w = want[i];
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    if (w >= u'A' && w <= u'Z') w = static_cast<char16_t>(w - u'A' + u'a');
    if (c != w) return false;
  }
  return true;
}

}  // namespace
}  // namespace winsim

using namespace winsim;

DWORD WINAPI GetFileVersionInfoSizeW(LPCWSTR lptstrFilename, LPDWORD lpdwHandle) {
  std::string path = ToUtf8(lptstrFilename);
  if (lpdwHandle != nullptr) *lpdwHandle = 0;
  if (detail::Enter("GetFileVersionInfoSizeW", path)) return 0;
  std::string bytes;
  uint64_t at = 0;
  uint32_t size = 0;
  if (!LoadVersion(path, &bytes, &at, &size)) {
    detail::Result("error " + std::to_string(GetLastError()));
    return 0;
  }
  // Twice the resource and four bytes, room the system keeps for the
  // converted copies of the texts.
  uint64_t total = 2ull * size + 4;
  if (total > 0xFFFFFFFFull) {
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return 0;
  }
  detail::Result(std::to_string(total));
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(total);
}

BOOL WINAPI GetFileVersionInfoW(LPCWSTR lptstrFilename, DWORD dwHandle, DWORD dwLen, LPVOID lpData) {
  std::string path = ToUtf8(lptstrFilename);
  if (detail::Enter("GetFileVersionInfoW", path + " " + std::to_string(dwLen))) return FALSE;
  if (lpData == nullptr || dwLen == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // VerQueryValueW takes the block's extent from its first two bytes: a
  // buffer that cannot hold them would be read beyond its end.
  if (dwLen < 2) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    detail::Result("error 122");
    return FALSE;
  }
  std::string bytes;
  uint64_t at = 0;
  uint32_t size = 0;
  if (!LoadVersion(path, &bytes, &at, &size)) {
    detail::Result("error " + std::to_string(GetLastError()));
    return FALSE;
  }
  // A buffer shorter than the resource gets what fits; the root block's
  // length is cut to it so that queries stay inside the buffer.
  uint32_t n = dwLen < size ? dwLen : size;
  auto *out = static_cast<uint8_t *>(lpData);
  std::memcpy(out, bytes.data() + at, n);
  if (n >= 2 && Get16(out, 0) > n) {
    out[0] = static_cast<uint8_t>(n & 0xFF);
    out[1] = static_cast<uint8_t>((n >> 8) & 0xFF);
  }
  detail::Result("ok");
  return TRUE;
}

BOOL WINAPI VerQueryValueW(LPCVOID pBlock, LPCWSTR lpSubBlock, LPVOID *lplpBuffer, PUINT puLen) {
  std::u16string sub = lpSubBlock ? std::u16string(lpSubBlock) : std::u16string();
  if (detail::Enter("VerQueryValueW", ToUtf8(sub))) return FALSE;
  if (lplpBuffer != nullptr) *lplpBuffer = nullptr;
  if (puLen != nullptr) *puLen = 0;
  if (pBlock == nullptr || lplpBuffer == nullptr || lpSubBlock == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const auto *b = static_cast<const uint8_t *>(pBlock);
  // The block handed out by GetFileVersionInfoW is as long as its root says.
  size_t limit = Get16(b, 0);
  Node node;
  if (!ParseNode(b, 0, limit, &node)) {
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return FALSE;
  }
  bool root = true;
  size_t pos = 0;
  while (pos < sub.size()) {
    if (sub[pos] == u'\\') {
      ++pos;
      continue;
    }
    size_t end = sub.find(u'\\', pos);
    if (end == std::u16string::npos) end = sub.size();
    std::u16string want = sub.substr(pos, end - pos);
    pos = end;
    bool found = false;
    for (size_t c = node.childrenAt; c + 6 <= node.end;) {
      Node child;
      if (!ParseNode(b, c, node.end, &child)) break;
      if (KeyIs(b, child, want)) {
        node = child;
        found = true;
        break;
      }
      c = Align4(child.end);
    }
    if (!found) {
      SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
      return FALSE;
    }
    root = false;
  }
  if (root) {
    // The root value is the VS_FIXEDFILEINFO record, when it is one.
    uint32_t signature = 0;
    if (node.valueBytes >= sizeof(VS_FIXEDFILEINFO))
      std::memcpy(&signature, b + node.valueAt, sizeof signature);
    if (signature != kFixedInfoSignature) {
      SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
      return FALSE;
    }
  }
  *lplpBuffer = const_cast<uint8_t *>(b + node.valueAt);
  if (puLen != nullptr) *puLen = static_cast<UINT>(node.type == 1 ? node.valueLength : node.valueBytes);
  detail::Result("ok");
  return TRUE;
}
