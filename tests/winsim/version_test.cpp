// Version resources read from PE images: genuine images of both widths,
// files without a version, and damaged or hostile images, which must give
// "no version" with the system's error and never a read outside the file.
#include <cstring>
#include <functional>
#include <random>

#include "support/fixture.h"
#include "winsim/pe_writer.h"

namespace {

using winsim::PeLayout;

const char kPath[] = "C:\\Probe\\probe.dll";
const std::u16string kPathW = u"C:\\Probe\\probe.dll";

struct VersionRead {
  DWORD size = 0;
  DWORD sizeError = 0;
  bool read = false;
  bool query = false;
  DWORD queryError = 0;
  VS_FIXEDFILEINFO fixed{};
  UINT fixedLen = 0;
};

// The three calls in the order a reader makes them, into a block of exactly
// the size reported.
VersionRead ReadVersion(const std::u16string &path) {
  VersionRead r;
  DWORD handle = 77;
  SetLastError(0);
  r.size = GetFileVersionInfoSizeW(path.c_str(), &handle);
  r.sizeError = GetLastError();
  EXPECT_EQ(handle, 0u);
  if (r.size == 0) return r;
  std::vector<uint8_t> block(r.size);
  r.read = GetFileVersionInfoW(path.c_str(), 0, r.size, block.data()) != 0;
  if (!r.read) return r;
  void *value = nullptr;
  SetLastError(0);
  r.query = VerQueryValueW(block.data(), u"\\", &value, &r.fixedLen) != 0;
  r.queryError = GetLastError();
  if (r.query) std::memcpy(&r.fixed, value, sizeof r.fixed);
  return r;
}

void Put16(std::string &b, size_t at, uint16_t v) {
  b[at] = static_cast<char>(v & 0xFF);
  b[at + 1] = static_cast<char>(v >> 8);
}
void Put32(std::string &b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
uint32_t Get32(const std::string &b, size_t at) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(static_cast<uint8_t>(b[at + i])) << (8 * i);
  return v;
}

class VersionTest : public mrvtest::MachineTest {};

// ---------------------------------------------------------------------------
// Genuine images
// ---------------------------------------------------------------------------

struct GoodCase {
  const char *name;
  std::function<std::string()> make;
  DWORD productMS, productLS, fileMS, fileLS;
  DWORD fileType;
};

TEST_F(VersionTest, GenuineImagesGiveTheirFixedInformation) {
  const GoodCase cases[] = {
      {"PE32+ 1.2.3.2563", [] { return winsim::MakeVersionedImage(1, 2, 3, 2563); }, 0x00010002,
       0x00030000 + 2563, 0x00010002, 0x00030000 + 2563, 2},
      {"PE32 1.2.3.2563", [] { return winsim::MakeVersionedImage(1, 2, 3, 2563, "x.dll", false); },
       0x00010002, 0x00030000 + 2563, 0x00010002, 0x00030000 + 2563, 2},
      {"build 65535", [] { return winsim::MakeVersionedImage(9, 8, 7, 65535); }, 0x00090008, 0x0007FFFF,
       0x00090008, 0x0007FFFF, 2},
      {"build 0", [] { return winsim::MakeVersionedImage(0, 0, 0, 0); }, 0, 0, 0, 0, 2},
      {"component file", [] { return winsim::MakeComponentFile("gwrdrv64.dll", 2451); }, 0x00010000, 2451,
       0x00010000, 2451, 2},
      {"component program", [] { return winsim::MakeComponentFile("mrvtray.exe", 2563); }, 0x00010000, 2563,
       0x00010000, 2563, 1},
      {"component build past 16 bits", [] { return winsim::MakeComponentFile("gwrui64.dll", 70000); },
       0x00010000, 65535, 0x00010000, 65535, 2},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    winsim::WriteHostFile(kPath, c.make());
    VersionRead r = ReadVersion(kPathW);
    ASSERT_NE(r.size, 0u) << "error " << r.sizeError;
    ASSERT_TRUE(r.read);
    ASSERT_TRUE(r.query) << "error " << r.queryError;
    EXPECT_EQ(r.fixedLen, sizeof(VS_FIXEDFILEINFO));
    EXPECT_EQ(r.fixed.dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(r.fixed.dwStrucVersion, 0x00010000u);
    EXPECT_EQ(r.fixed.dwProductVersionMS, c.productMS);
    EXPECT_EQ(r.fixed.dwProductVersionLS, c.productLS);
    EXPECT_EQ(r.fixed.dwFileVersionMS, c.fileMS);
    EXPECT_EQ(r.fixed.dwFileVersionLS, c.fileLS);
    EXPECT_EQ(r.fixed.dwFileType, c.fileType);
  }
}

TEST_F(VersionTest, ImageHeadersAreThoseOfTheRequestedWidth) {
  PeLayout l64, l32;
  std::string a = winsim::MakeVersionedImage(1, 0, 0, 1, "a.dll", true, &l64);
  std::string b = winsim::MakeVersionedImage(1, 0, 0, 1, "a.dll", false, &l32);
  EXPECT_EQ(a.substr(0, 2), "MZ");
  EXPECT_EQ(a.substr(l64.peHeader, 4), std::string("PE\0\0", 4));
  EXPECT_EQ(Get32(a, l64.peHeader + 4) & 0xFFFF, 0x8664u);
  EXPECT_EQ(Get32(a, l64.optionalHeader) & 0xFFFF, 0x20Bu);
  EXPECT_EQ(Get32(b, l32.peHeader + 4) & 0xFFFF, 0x014Cu);
  EXPECT_EQ(Get32(b, l32.optionalHeader) & 0xFFFF, 0x10Bu);
  EXPECT_EQ(a.substr(l64.rsrcSectionHeader, 5), ".rsrc");
  EXPECT_EQ(Get32(a, l64.resourceDataDir), l64.rsrcRva);
  EXPECT_EQ(a.size() % 0x200, 0u);
}

TEST_F(VersionTest, QueriesFindTheStringsAndTheTranslation) {
  PeLayout l;
  std::string img = winsim::MakeVersionedImage(1, 2, 3, 2563, "gwrmon64.dll", true, &l);
  winsim::WriteHostFile(kPath, img);
  DWORD size = GetFileVersionInfoSizeW(kPathW.c_str(), nullptr);
  // Twice the resource and four bytes, as the system reports it.
  ASSERT_EQ(size, 2 * Get32(img, l.dataEntry + 4) + 4);
  std::vector<uint8_t> block(size);
  ASSERT_TRUE(GetFileVersionInfoW(kPathW.c_str(), 0, size, block.data()));

  struct Query {
    const char16_t *sub;
    bool found;
    std::string text;  // for texts: the value; for the translation: empty
    UINT len;
  };
  const Query queries[] = {
      {u"\\StringFileInfo\\040904B0\\ProductVersion", true, "1.2.3.2563", 11},
      {u"\\stringfileinfo\\040904b0\\productversion", true, "1.2.3.2563", 11},
      {u"\\StringFileInfo\\040904B0\\OriginalFilename", true, "gwrmon64.dll", 13},
      {u"\\VarFileInfo\\Translation", true, "", 4},
      {u"\\StringFileInfo\\040904B0\\Comments", false, "", 0},
      {u"\\StringFileInfo\\041104B0\\ProductVersion", false, "", 0},
      {u"\\NoSuchBlock", false, "", 0},
      {u"\\VS_VERSION_INFO", false, "", 0},
  };
  for (const auto &q : queries) {
    SCOPED_TRACE(mrvtest::U8(q.sub));
    void *value = reinterpret_cast<void *>(1);
    UINT len = 99;
    SetLastError(0);
    BOOL ok = VerQueryValueW(block.data(), q.sub, &value, &len);
    EXPECT_EQ(ok != 0, q.found);
    if (!q.found) {
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND));
      EXPECT_EQ(value, nullptr);
      EXPECT_EQ(len, 0u);
      continue;
    }
    EXPECT_EQ(len, q.len);
    auto *v = static_cast<const uint8_t *>(value);
    ASSERT_GE(v, block.data());
    ASSERT_LE(v + (q.text.empty() ? len : 2 * len), block.data() + block.size());
    if (!q.text.empty()) {
      EXPECT_EQ(mrvtest::U8(reinterpret_cast<const char16_t *>(value)), q.text);
    } else {
      uint32_t t;
      std::memcpy(&t, value, 4);
      EXPECT_EQ(t, 0x04B00409u);
    }
  }
}

// A reader's buffer shorter than the resource: the copy is cut and queries
// stay inside what was copied.
TEST_F(VersionTest, ShortBufferIsFilledAsFarAsItGoes) {
  winsim::WriteHostFile(kPath, winsim::MakeVersionedImage(1, 2, 3, 4));
  DWORD size = GetFileVersionInfoSizeW(kPathW.c_str(), nullptr);
  ASSERT_NE(size, 0u);
  for (DWORD len : {1u, 2u, 6u, 39u, 40u, 91u, 92u, 200u}) {
    SCOPED_TRACE(len);
    std::unique_ptr<uint8_t[]> block(new uint8_t[len]);
    std::memset(block.get(), 0, len);
    if (len < 2) {
      // Too short to hold even the block's length, which queries read.
      EXPECT_FALSE(GetFileVersionInfoW(kPathW.c_str(), 0, len, block.get()));
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
      continue;
    }
    ASSERT_TRUE(GetFileVersionInfoW(kPathW.c_str(), 0, len, block.get()));
    void *value = nullptr;
    UINT got = 0;
    BOOL ok = VerQueryValueW(block.get(), u"\\", &value, &got);
    // The fixed information ends at byte 92 of the block.
    EXPECT_EQ(ok != 0, len >= 92);
    VerQueryValueW(block.get(), u"\\StringFileInfo\\040904B0\\ProductVersion", &value, &got);
  }
}

// ---------------------------------------------------------------------------
// Files without a version
// ---------------------------------------------------------------------------

TEST_F(VersionTest, FilesWithoutAVersionGiveTheSystemsErrors) {
  winsim::PeImageOptions noRsrc;
  noRsrc.resourceSection = false;
  winsim::PeImageOptions otherTypes;
  otherTypes.resources.push_back({10, 1, 0x409, "raw data"});
  otherTypes.resources.push_back({24, 2, 0x409, "<assembly/>"});
  winsim::PeImageOptions versionNamed2;
  const uint16_t v[4] = {1, 0, 0, 5};
  versionNamed2.resources.push_back({16, 2, 0x409, winsim::MakeVersionBlock(v, v, "x.dll")});

  struct Case {
    const char *name;
    std::function<void()> place;  // writes kPath, or not
    std::u16string path;
    DWORD error;
  };
  const Case cases[] = {
      {"component without version",
       [] { winsim::WriteHostFile(kPath, winsim::MakeComponentFile("gwrmon64.dll", -1)); }, kPathW,
       ERROR_RESOURCE_TYPE_NOT_FOUND},
      {"no resource section", [&] { winsim::WriteHostFile(kPath, winsim::MakePeImage(noRsrc)); }, kPathW,
       ERROR_RESOURCE_DATA_NOT_FOUND},
      {"other resource types only", [&] { winsim::WriteHostFile(kPath, winsim::MakePeImage(otherTypes)); },
       kPathW, ERROR_RESOURCE_TYPE_NOT_FOUND},
      {"version resource not named 1",
       [&] { winsim::WriteHostFile(kPath, winsim::MakePeImage(versionNamed2)); }, kPathW, 1814},
      {"text file",
       [] { winsim::WriteHostFile(kPath, "Morvalente printer driver\r\nversion 1.0.0.2563\r\n"); }, kPathW,
       ERROR_RESOURCE_DATA_NOT_FOUND},
      {"empty file", [] { winsim::WriteHostFile(kPath, ""); }, kPathW, ERROR_RESOURCE_DATA_NOT_FOUND},
      {"just MZ", [] { winsim::WriteHostFile(kPath, "MZ"); }, kPathW, ERROR_RESOURCE_DATA_NOT_FOUND},
      {"missing file", [] {}, u"C:\\Windows\\System32\\nothere.dll", ERROR_FILE_NOT_FOUND},
      {"missing directory", [] {}, u"C:\\Nowhere\\nothere.dll", ERROR_PATH_NOT_FOUND},
      {"a directory", [] {}, u"C:\\Windows\\System32", ERROR_ACCESS_DENIED},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    winsim::RemoveHostFile(kPath);
    c.place();
    VersionRead r = ReadVersion(c.path);
    EXPECT_EQ(r.size, 0u);
    EXPECT_EQ(r.sizeError, c.error);
    std::vector<uint8_t> block(64, 0);
    SetLastError(0);
    EXPECT_FALSE(GetFileVersionInfoW(c.path.c_str(), 0, 64, block.data()));
    EXPECT_EQ(GetLastError(), c.error);
  }
}

TEST_F(VersionTest, InjectedFaultsFailTheCalls) {
  winsim::WriteHostFile(kPath, winsim::MakeVersionedImage(1, 0, 0, 1));
  winsim::AddFault("GetFileVersionInfoSizeW", ERROR_ACCESS_DENIED);
  SetLastError(0);
  EXPECT_EQ(GetFileVersionInfoSizeW(kPathW.c_str(), nullptr), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_NE(GetFileVersionInfoSizeW(kPathW.c_str(), nullptr), 0u);  // only the first call
  winsim::AddFault("GetFileVersionInfoW", ERROR_NOT_ENOUGH_MEMORY);
  uint8_t block[2048] = {};
  EXPECT_FALSE(GetFileVersionInfoW(kPathW.c_str(), 0, sizeof block, block));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
  EXPECT_EQ(winsim::CallCount("GetFileVersionInfoSizeW"), 2u);
}

TEST_F(VersionTest, FileHeldWithoutReadSharingCannotBeRead) {
  winsim::WriteHostFile(kPath, winsim::MakeVersionedImage(1, 0, 0, 1));
  winsim::M().holds.push_back({kPath, 0, -1, "editor"});
  EXPECT_EQ(ReadVersion(kPathW).sizeError, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  winsim::M().holds.back().share = FILE_SHARE_READ;
  EXPECT_NE(ReadVersion(kPathW).size, 0u);
}

// ---------------------------------------------------------------------------
// Damaged and hostile images
// ---------------------------------------------------------------------------

struct Damage {
  const char *name;
  std::function<void(std::string &, const PeLayout &)> apply;
  DWORD sizeError;     // 0: the size call succeeds
  bool fixedReadable;  // when it succeeds: whether "\" gives the fixed information
};

TEST_F(VersionTest, DamagedImagesGiveNoVersionWithTheRightError) {
  const DWORD kNoData = ERROR_RESOURCE_DATA_NOT_FOUND;
  const Damage cases[] = {
      {"untouched", [](std::string &, const PeLayout &) {}, 0, true},
      {"PE header offset past the end", [](std::string &b, const PeLayout &) { Put32(b, 0x3C, 0x7FFFFFF0); },
       kNoData, false},
      {"PE header offset all ones", [](std::string &b, const PeLayout &) { Put32(b, 0x3C, 0xFFFFFFFF); },
       kNoData, false},
      {"no PE signature", [](std::string &b, const PeLayout &l) { b[l.peHeader] = 'N'; }, kNoData, false},
      {"unknown optional header",
       [](std::string &b, const PeLayout &l) { Put16(b, l.optionalHeader, 0x107); }, kNoData, false},
      {"optional header too short for the directories",
       [](std::string &b, const PeLayout &l) { Put16(b, l.peHeader + 4 + 16, 112 + 16); }, kNoData, false},
      {"two data directories only",
       // the count lies just before the directories: export, import, resource
       [](std::string &b, const PeLayout &l) { Put32(b, l.resourceDataDir - 2 * 8 - 4, 2); }, kNoData, false},
      {"resource directory outside every section",
       [](std::string &b, const PeLayout &l) { Put32(b, l.resourceDataDir, 0x00500000); }, kNoData, false},
      {"resource directory size 0",
       [](std::string &b, const PeLayout &l) { Put32(b, l.resourceDataDir + 4, 0); }, kNoData, false},
      {"no sections", [](std::string &b, const PeLayout &l) { Put16(b, l.peHeader + 4 + 2, 0); }, kNoData,
       false},
      {"section count far past the table",
       [](std::string &b, const PeLayout &l) { Put16(b, l.peHeader + 4 + 2, 0xFFFF); }, 0, true},
      {"resource raw data past the end",
       [](std::string &b, const PeLayout &l) { Put32(b, l.rsrcSectionHeader + 20, 0xFFFFFE00); }, kNoData,
       false},
      {"resource raw size far past the end",
       [](std::string &b, const PeLayout &l) { Put32(b, l.rsrcSectionHeader + 16, 0xFFFFFFFF); }, 0, true},
      {"type entry count past the section",
       [](std::string &b, const PeLayout &l) { Put16(b, l.rsrcRaw + 14, 0xFFFF); }, kNoData, false},
      {"named entry count past the section",
       [](std::string &b, const PeLayout &l) { Put16(b, l.rsrcRaw + 12, 0x2000); }, kNoData, false},
      {"type is not RT_VERSION", [](std::string &b, const PeLayout &l) { Put32(b, l.typeEntries, 17); },
       ERROR_RESOURCE_TYPE_NOT_FOUND, false},
      {"type entry is a data entry",
       [](std::string &b, const PeLayout &l) { Put32(b, l.typeEntries + 4, l.dataEntry - l.rsrcRaw); },
       kNoData, false},
      {"type points back at the root",
       [](std::string &b, const PeLayout &l) { Put32(b, l.typeEntries + 4, 0x80000000u); }, 1814, false},
      {"type directory offset past the section",
       [](std::string &b, const PeLayout &l) { Put32(b, l.typeEntries + 4, 0xFFFFFFF0u); }, kNoData, false},
      {"name is not 1", [](std::string &b, const PeLayout &l) { Put32(b, l.nameDir + 16, 2); }, 1814, false},
      {"name points back at its own directory",
       [](std::string &b, const PeLayout &l) {
         Put32(b, l.nameDir + 20, 0x80000000u | (l.nameDir - l.rsrcRaw));
       },
       kNoData, false},
      {"name points back at the root",
       [](std::string &b, const PeLayout &l) { Put32(b, l.nameDir + 20, 0x80000000u); }, kNoData, false},
      {"no language", [](std::string &b, const PeLayout &l) { Put16(b, l.languageDir + 14, 0); }, 1815,
       false},
      {"language is a directory",
       [](std::string &b, const PeLayout &l) {
         Put32(b, l.languageDir + 20, 0x80000000u | (l.languageDir - l.rsrcRaw));
       },
       kNoData, false},
      {"data outside every section",
       [](std::string &b, const PeLayout &l) { Put32(b, l.dataEntry, 0x7FFF0000); }, kNoData, false},
      {"data size past the section",
       [](std::string &b, const PeLayout &l) { Put32(b, l.dataEntry + 4, 0x10000); }, kNoData, false},
      {"data size all ones", [](std::string &b, const PeLayout &l) { Put32(b, l.dataEntry + 4, 0xFFFFFFFF); },
       kNoData, false},
      {"data size 0", [](std::string &b, const PeLayout &l) { Put32(b, l.dataEntry + 4, 0); }, kNoData,
       false},
      {"data size below the block's header",
       [](std::string &b, const PeLayout &l) { Put32(b, l.dataEntry + 4, 20); }, kNoData, false},
      {"block longer than the resource",
       [](std::string &b, const PeLayout &l) {
         Put16(b, l.data[0], static_cast<uint16_t>(Get32(b, l.dataEntry + 4) + 4));
       },
       kNoData, false},
      {"block shorter than its header", [](std::string &b, const PeLayout &l) { Put16(b, l.data[0], 12); },
       kNoData, false},
      {"block key is not VS_VERSION_INFO", [](std::string &b, const PeLayout &l) { b[l.data[0] + 6] = 'W'; },
       kNoData, false},
      {"block key without its zero", [](std::string &b, const PeLayout &l) { b[l.data[0] + 6 + 30] = 'X'; },
       kNoData, false},
      {"fixed information longer than the block",
       [](std::string &b, const PeLayout &l) { Put16(b, l.data[0] + 2, 0xFFF0); }, kNoData, false},
      {"fixed information signature wrong",
       [](std::string &b, const PeLayout &l) { Put32(b, l.data[0] + 40, 0xFEEF04BE); }, 0, false},
      {"no fixed information", [](std::string &b, const PeLayout &l) { Put16(b, l.data[0] + 2, 0); }, 0,
       false},
      {"fixed information too short", [](std::string &b, const PeLayout &l) { Put16(b, l.data[0] + 2, 20); },
       0, false},
  };
  for (bool plus : {true, false}) {
    for (const auto &c : cases) {
      SCOPED_TRACE(std::string(plus ? "PE32+: " : "PE32: ") + c.name);
      PeLayout l;
      std::string img = winsim::MakeVersionedImage(1, 2, 3, 2563, "gwrdrv64.dll", plus, &l);
      std::string damaged = img;
      c.apply(damaged, l);
      if (std::string(c.name) != "untouched") {
        ASSERT_NE(damaged, img);
      }
      winsim::WriteHostFile(kPath, damaged);
      VersionRead r = ReadVersion(kPathW);
      if (c.sizeError != 0) {
        EXPECT_EQ(r.size, 0u);
        EXPECT_EQ(r.sizeError, c.sizeError);
        continue;
      }
      ASSERT_NE(r.size, 0u) << "error " << r.sizeError;
      EXPECT_TRUE(r.read);
      EXPECT_EQ(r.query, c.fixedReadable);
      if (c.fixedReadable) {
        EXPECT_EQ(r.fixed.dwProductVersionLS & 0xFFFF, 2563u);
      } else {
        EXPECT_EQ(r.queryError, static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND));
      }
    }
  }
}

// Every prefix of a genuine image: no version until the whole resource is
// there, then the version; no read outside the file on the way.
TEST_F(VersionTest, EveryTruncationBeforeTheResourceEndGivesNoVersion) {
  for (bool plus : {true, false}) {
    PeLayout l;
    std::string img = winsim::MakeVersionedImage(1, 2, 3, 2563, "gwrmon64.dll", plus, &l);
    size_t resourceEnd = l.data[0] + Get32(img, l.dataEntry + 4);
    ASSERT_LT(resourceEnd, img.size());
    // Every length through the resource directories and the block's
    // header, and the last bytes of the data; a sample of the rest.
    std::vector<size_t> cuts;
    for (size_t n = 0; n <= img.size(); ++n) {
      bool structure = n >= l.rsrcRaw && n <= l.data[0] + 96;
      bool dataEnd = n + 4 >= resourceEnd && n <= resourceEnd + 4;
      if (structure || dataEnd || n % 61 == 0) cuts.push_back(n);
    }
    for (size_t n : cuts) {
      winsim::WriteHostFile(kPath, img.substr(0, n));
      DWORD size = GetFileVersionInfoSizeW(kPathW.c_str(), nullptr);
      if (n < resourceEnd) {
        ASSERT_EQ(size, 0u) << (plus ? "PE32+" : "PE32") << " cut at " << n;
        ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_DATA_NOT_FOUND)) << "cut at " << n;
      } else {
        ASSERT_NE(size, 0u) << (plus ? "PE32+" : "PE32") << " cut at " << n;
      }
    }
  }
}

// Random damage to the headers and the resource section of a genuine image,
// with a fixed seed. Whatever the answer, the three calls stay inside the
// file and the block (the sanitizer build checks the reads).
TEST_F(VersionTest, RandomDamageNeverReadsOutside) {
  PeLayout l;
  std::string img = winsim::MakeVersionedImage(1, 2, 3, 2563, "gwrmon64.dll", true, &l);
  std::mt19937 rng(20240607);
  std::vector<size_t> spots;
  for (size_t i = 0; i < 0x200; ++i) spots.push_back(i);
  for (size_t i = l.rsrcRaw; i < img.size(); ++i) spots.push_back(i);
  int versions = 0, refusals = 0;
  for (int round = 0; round < 400; ++round) {
    std::string b = img;
    int changes = 1 + static_cast<int>(rng() % 4);
    for (int k = 0; k < changes; ++k) b[spots[rng() % spots.size()]] = static_cast<char>(rng() & 0xFF);
    if (rng() % 5 == 0) b.resize(rng() % b.size());
    winsim::WriteHostFile(kPath, b);
    VersionRead r = ReadVersion(kPathW);
    if (r.size == 0) {
      ++refusals;
      DWORD e = r.sizeError;
      ASSERT_TRUE(e == ERROR_RESOURCE_DATA_NOT_FOUND || e == ERROR_RESOURCE_TYPE_NOT_FOUND || e == 1814 ||
                  e == 1815)
          << "round " << round << " error " << e;
    } else {
      ++versions;
      ASSERT_TRUE(r.read) << "round " << round;
    }
  }
  // Both outcomes occur, so the damage reached the parts that matter.
  EXPECT_GT(versions, 0);
  EXPECT_GT(refusals, 0);
}

// A holder lets go at its release time whatever call asks next: the version
// reader sees the file free without any open or delete coming first.
struct ReleaseRow {
  const char *name;
  int64_t releaseAfterMs;  // from now; the hold's release time
  DWORD sleepMs;           // virtual time passed before reading
  DWORD sizeError;         // 0: the file is readable
};

TEST_F(VersionTest, HoldEndsAtItsReleaseTimeForTheReader) {
  const ReleaseRow rows[] = {
      {"released already", 0, 0, 0},
      {"released while sleeping", 1000, 1000, 0},
      {"released by a clock set forward", 1000, 5000, 0},
      {"still held a moment before", 1000, 999, ERROR_SHARING_VIOLATION},
      {"held for good", -1, 5000, ERROR_SHARING_VIOLATION},
  };
  winsim::WriteHostFile(kPath, winsim::MakeVersionedImage(1, 0, 0, 1));
  for (const ReleaseRow &row : rows) {
    winsim::M().holds.clear();
    int64_t at = row.releaseAfterMs < 0 ? -1 : static_cast<int64_t>(winsim::M().clockMs) + row.releaseAfterMs;
    winsim::M().holds.push_back({kPath, 0, at, "editor"});
    if (row.sleepMs != 0) Sleep(row.sleepMs);
    VersionRead r = ReadVersion(kPathW);
    EXPECT_EQ(r.sizeError, row.sizeError) << row.name;
    EXPECT_EQ(r.size != 0, row.sizeError == 0) << row.name;
  }
}

}  // namespace
