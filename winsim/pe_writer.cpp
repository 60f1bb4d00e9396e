// Component files for simulated machines: minimal PE images (headers, a
// one-instruction code section and a resource section) whose version
// resource carries the component's build.
#include "winsim/pe_writer.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "winsim/internal.h"

namespace winsim {

namespace {

const uint32_t kFileAlign = 0x200;
const uint32_t kSectionAlign = 0x1000;

uint32_t AlignUp(uint32_t v, uint32_t a) {
  return (v + a - 1) / a * a;
}

void Put16(std::string &b, size_t at, uint16_t v) {
  b[at] = static_cast<char>(v & 0xFF);
  b[at + 1] = static_cast<char>(v >> 8);
}
void Put32(std::string &b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
void Put64(std::string &b, size_t at, uint64_t v) {
  for (int i = 0; i < 8; ++i) b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
void Append16(std::string &b, uint16_t v) {
  b += static_cast<char>(v & 0xFF);
  b += static_cast<char>(v >> 8);
}
void Append32(std::string &b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b += static_cast<char>((v >> (8 * i)) & 0xFF);
}
void Pad4(std::string &b) {
  while (b.size() % 4 != 0) b += '\0';
}
void AppendWide(std::string &b, const std::string &ascii) {
  for (char c : ascii) Append16(b, static_cast<uint8_t>(c));
  Append16(b, 0);
}

// One block of a version resource: header, key, value, then its children,
// each child starting on a 4-byte boundary. wLength covers it all.
std::string VersionNode(const std::string &key, const std::string &value, uint16_t valueLength, uint16_t type,
                        const std::vector<std::string> &children) {
  std::string b(6, '\0');
  AppendWide(b, key);
  Pad4(b);
  b += value;
  for (auto &child : children) {
    Pad4(b);
    b += child;
  }
  Put16(b, 0, static_cast<uint16_t>(b.size()));
  Put16(b, 2, valueLength);
  Put16(b, 4, type);
  return b;
}

std::string StringNode(const std::string &key, const std::string &text) {
  std::string v;
  AppendWide(v, text);
  return VersionNode(key, v, static_cast<uint16_t>(text.size() + 1), 1, {});
}

std::string VersionText(const uint16_t v[4]) {
  return std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]) + "." +
         std::to_string(v[3]);
}

bool EndsWithExe(const std::string &name) {
  return name.size() >= 4 && Lower(name.substr(name.size() - 4)) == ".exe";
}

// The resource section's bytes for resources sorted by type, name and
// language; offsets inside it are relative to its start, data entries point
// at their data by RVA.
std::string ResourceSection(std::vector<PeResource> res, uint32_t rva, PeLayout *layout,
                            const std::vector<PeResource> &given) {
  std::stable_sort(res.begin(), res.end(), [](const PeResource &a, const PeResource &b) {
    if (a.type != b.type) return a.type < b.type;
    if (a.id != b.id) return a.id < b.id;
    return a.language < b.language;
  });
  // type -> name -> resources (by language)
  std::map<uint16_t, std::map<uint16_t, std::vector<const PeResource *>>> tree;
  for (auto &r : res) tree[r.type][r.id].push_back(&r);

  auto dirSize = [](size_t entries) { return static_cast<uint32_t>(16 + 8 * entries); };
  uint32_t rootSize = dirSize(tree.size());
  uint32_t nameDirs = 0, langDirs = 0;
  for (auto &t : tree) {
    nameDirs += dirSize(t.second.size());
    for (auto &n : t.second) langDirs += dirSize(n.second.size());
  }
  uint32_t dataEntries = static_cast<uint32_t>(16 * res.size());
  uint32_t nameAt = rootSize, langAt = rootSize + nameDirs, entryAt = langAt + langDirs;
  uint32_t dataAt = AlignUp(entryAt + dataEntries, 8);

  std::string s(dataAt, '\0');
  auto dirHeader = [&](uint32_t at, size_t ids) { Put16(s, at + 14, static_cast<uint16_t>(ids)); };
  dirHeader(0, tree.size());
  uint32_t typeEntry = 16;
  bool first = true;
  for (auto &t : tree) {
    Put32(s, typeEntry, t.first);
    Put32(s, typeEntry + 4, 0x80000000u | nameAt);
    typeEntry += 8;
    if (first && layout) layout->nameDir = nameAt;
    dirHeader(nameAt, t.second.size());
    uint32_t nameEntry = nameAt + 16;
    nameAt += dirSize(t.second.size());
    for (auto &n : t.second) {
      Put32(s, nameEntry, n.first);
      Put32(s, nameEntry + 4, 0x80000000u | langAt);
      nameEntry += 8;
      if (first && layout) layout->languageDir = langAt;
      dirHeader(langAt, n.second.size());
      uint32_t langEntry = langAt + 16;
      langAt += dirSize(n.second.size());
      for (const PeResource *r : n.second) {
        Put32(s, langEntry, r->language);
        Put32(s, langEntry + 4, entryAt);
        langEntry += 8;
        if (first && layout) layout->dataEntry = entryAt;
        first = false;
        uint32_t at = static_cast<uint32_t>(AlignUp(static_cast<uint32_t>(s.size()), 8));
        s.resize(at, '\0');
        Put32(s, entryAt, rva + at);
        Put32(s, entryAt + 4, static_cast<uint32_t>(r->data.size()));
        Put32(s, entryAt + 8, 0);  // code page
        entryAt += 16;
        s += r->data;
        // Tell the caller where each given resource's data went.
        if (layout) {
          for (size_t i = 0; i < given.size(); ++i)
            if (given[i].type == r->type && given[i].id == r->id && given[i].language == r->language)
              layout->data[i] = at;
        }
      }
    }
  }
  return s;
}

}  // namespace

std::string MakeVersionBlock(const uint16_t fileVersion[4], const uint16_t productVersion[4],
                             const std::string &fileName) {
  std::string fixed;
  Append32(fixed, 0xFEEF04BD);  // signature
  Append32(fixed, 0x00010000);  // structure version 1.0
  Append32(fixed, (uint32_t(fileVersion[0]) << 16) | fileVersion[1]);
  Append32(fixed, (uint32_t(fileVersion[2]) << 16) | fileVersion[3]);
  Append32(fixed, (uint32_t(productVersion[0]) << 16) | productVersion[1]);
  Append32(fixed, (uint32_t(productVersion[2]) << 16) | productVersion[3]);
  Append32(fixed, 0x3F);                             // flags mask
  Append32(fixed, 0);                                // flags
  Append32(fixed, 0x00040004);                       // NT, 32-bit Windows API
  Append32(fixed, EndsWithExe(fileName) ? 1u : 2u);  // application or DLL
  Append32(fixed, 0);                                // subtype
  Append32(fixed, 0);                                // date
  Append32(fixed, 0);

  std::string table =
      VersionNode("040904B0", "", 0, 1,
                  {StringNode("CompanyName", "Garrowe Software KFT"),
                   StringNode("FileDescription", "Morvalente " + fileName),
                   StringNode("FileVersion", VersionText(fileVersion)), StringNode("InternalName", fileName),
                   StringNode("OriginalFilename", fileName), StringNode("ProductName", "Morvalente"),
                   StringNode("ProductVersion", VersionText(productVersion))});
  std::string strings = VersionNode("StringFileInfo", "", 0, 1, {table});
  std::string translation;
  Append16(translation, 0x0409);
  Append16(translation, 0x04B0);
  std::string vars =
      VersionNode("VarFileInfo", "", 0, 1, {VersionNode("Translation", translation, 4, 0, {})});
  return VersionNode("VS_VERSION_INFO", fixed, static_cast<uint16_t>(fixed.size()), 0, {strings, vars});
}

std::string MakePeImage(const PeImageOptions &options, PeLayout *layout) {
  if (layout) {
    *layout = PeLayout();
    layout->data.assign(options.resources.size(), 0);
  }
  const bool plus = options.pe32plus;
  const bool rsrc = options.resourceSection;
  const uint16_t sections = rsrc ? 2 : 1;
  const uint32_t peAt = 0x40;
  const uint32_t coffAt = peAt + 4;
  const uint32_t optAt = coffAt + 20;
  const uint16_t optSize = plus ? 240 : 224;
  const uint32_t sectAt = optAt + optSize;
  const uint32_t headersSize = AlignUp(sectAt + 40u * sections, kFileAlign);

  const uint32_t textRva = kSectionAlign, textRaw = headersSize, textSize = kFileAlign;
  const uint32_t rsrcRva = 2 * kSectionAlign, rsrcRaw = textRaw + textSize;
  std::string rsrcBytes = rsrc ? ResourceSection(options.resources, rsrcRva, layout, options.resources) : "";
  const uint32_t rsrcVirtual = static_cast<uint32_t>(rsrcBytes.size());
  const uint32_t rsrcSize = AlignUp(rsrcVirtual, kFileAlign);
  const uint32_t imageSize =
      rsrc ? rsrcRva + AlignUp(std::max<uint32_t>(rsrcVirtual, 1), kSectionAlign) : textRva + kSectionAlign;

  std::string b(headersSize, '\0');
  // DOS header: the signature and where the PE header lies.
  b[0] = 'M';
  b[1] = 'Z';
  Put32(b, 0x3C, peAt);
  // PE signature and file header.
  std::memcpy(&b[peAt], "PE\0\0", 4);
  Put16(b, coffAt, plus ? 0x8664 : 0x014C);
  Put16(b, coffAt + 2, sections);
  Put16(b, coffAt + 16, optSize);
  // Executable, large addresses (PE32+) or 32-bit machine (PE32), DLL.
  uint16_t characteristics = plus ? 0x0022 : 0x0102;
  if (options.dll) characteristics |= 0x2000;
  Put16(b, coffAt + 18, characteristics);
  // Optional header.
  Put16(b, optAt, plus ? 0x20B : 0x10B);
  b[optAt + 2] = 14;              // linker version
  Put32(b, optAt + 4, textSize);  // size of code
  Put32(b, optAt + 8, rsrcSize);  // size of initialized data
  Put32(b, optAt + 16, 0);        // entry point: none
  Put32(b, optAt + 20, textRva);  // base of code
  uint32_t at;
  if (plus) {
    Put64(b, optAt + 24, 0x180000000ull);  // image base
    at = optAt + 32;
  } else {
    Put32(b, optAt + 24, rsrcRva);     // base of data
    Put32(b, optAt + 28, 0x10000000);  // image base
    at = optAt + 32;
  }
  Put32(b, at, kSectionAlign);
  Put32(b, at + 4, kFileAlign);
  Put16(b, at + 8, 6);   // operating system version 6.0
  Put16(b, at + 16, 6);  // subsystem version 6.0
  Put32(b, at + 24, imageSize);
  Put32(b, at + 28, headersSize);
  Put16(b, at + 36, 2);                       // Windows GUI subsystem
  Put16(b, at + 38, plus ? 0x0160 : 0x0140);  // dynamic base, NX compatible (+ high entropy)
  uint32_t reserves = at + 40;                // stack and heap reserve and commit
  if (plus) {
    Put64(b, reserves, 0x100000);
    Put64(b, reserves + 8, 0x1000);
    Put64(b, reserves + 16, 0x100000);
    Put64(b, reserves + 24, 0x1000);
    at = reserves + 32;
  } else {
    Put32(b, reserves, 0x100000);
    Put32(b, reserves + 4, 0x1000);
    Put32(b, reserves + 8, 0x100000);
    Put32(b, reserves + 12, 0x1000);
    at = reserves + 16;
  }
  Put32(b, at + 4, 16);  // number of data directories (after the loader flags)
  const uint32_t dirs = at + 8;
  if (rsrc) {
    Put32(b, dirs + 2 * 8, rsrcRva);
    Put32(b, dirs + 2 * 8 + 4, rsrcVirtual);
  }
  // Section table.
  std::memcpy(&b[sectAt], ".text", 5);
  Put32(b, sectAt + 8, 1);
  Put32(b, sectAt + 12, textRva);
  Put32(b, sectAt + 16, textSize);
  Put32(b, sectAt + 20, textRaw);
  Put32(b, sectAt + 36, 0x60000020);  // code, execute, read
  if (rsrc) {
    const uint32_t s = sectAt + 40;
    std::memcpy(&b[s], ".rsrc", 5);
    Put32(b, s + 8, rsrcVirtual);
    Put32(b, s + 12, rsrcRva);
    Put32(b, s + 16, rsrcSize);
    Put32(b, s + 20, rsrcRaw);
    Put32(b, s + 36, 0x40000040);  // initialized data, read
  }
  // Sections.
  std::string text(textSize, '\0');
  text[0] = static_cast<char>(0xC3);  // ret
  b += text;
  if (rsrc) {
    rsrcBytes.resize(rsrcSize, '\0');
    b += rsrcBytes;
  }
  if (layout) {
    layout->peHeader = peAt;
    layout->optionalHeader = optAt;
    layout->resourceDataDir = dirs + 2 * 8;
    layout->sectionTable = sectAt;
    if (rsrc) {
      layout->rsrcSectionHeader = sectAt + 40;
      layout->rsrcRaw = rsrcRaw;
      layout->rsrcRva = rsrcRva;
      layout->typeEntries = rsrcRaw + 16;
      if (!options.resources.empty()) {
        layout->nameDir += rsrcRaw;
        layout->languageDir += rsrcRaw;
        layout->dataEntry += rsrcRaw;
        for (auto &d : layout->data) d += rsrcRaw;
      }
    }
  }
  return b;
}

std::string MakeVersionedImage(uint16_t a, uint16_t b, uint16_t c, uint16_t d, const std::string &fileName,
                               bool pe32plus, PeLayout *layout) {
  const uint16_t v[4] = {a, b, c, d};
  PeImageOptions o;
  o.pe32plus = pe32plus;
  PeResource r;
  r.type = 16;  // RT_VERSION
  r.id = 1;
  r.data = MakeVersionBlock(v, v, fileName);
  o.resources.push_back(r);
  return MakePeImage(o, layout);
}

std::string MakeComponentFile(const std::string &name, int build) {
  if (build < 0) {
    // No version resource; a manifest like most DLLs carry.
    PeImageOptions o;
    PeResource manifest;
    manifest.type = 24;  // RT_MANIFEST
    manifest.id = 2;
    manifest.data =
        "<?xml version='1.0' encoding='UTF-8' standalone='yes'?>\r\n"
        "<assembly xmlns='urn:schemas-microsoft-com:asm.v1' manifestVersion='1.0'/>\r\n";
    o.resources.push_back(manifest);
    o.dll = !EndsWithExe(name);
    return MakePeImage(o);
  }
  const uint16_t v[4] = {1, 0, 0, static_cast<uint16_t>(std::min(build, 65535))};
  PeImageOptions o;
  o.dll = !EndsWithExe(name);
  PeResource r;
  r.type = 16;  // RT_VERSION
  r.id = 1;
  r.data = MakeVersionBlock(v, v, name);
  o.resources.push_back(r);
  return MakePeImage(o);
}

}  // namespace winsim
