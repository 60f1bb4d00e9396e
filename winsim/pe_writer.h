// A small writer of PE images (PE32+ and PE32) with a resource section, for
// the component files of simulated machines and for tests that need genuine,
// truncated or damaged images.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace winsim {

// One resource of the image: type and name are numeric IDs.
struct PeResource {
  uint16_t type = 0;
  uint16_t id = 1;
  uint16_t language = 0x0409;
  std::string data;
};

struct PeImageOptions {
  bool pe32plus = true;         // false: a 32-bit (PE32) image
  bool dll = true;              // false: an application image
  bool resourceSection = true;  // false: no .rsrc section and no resource directory
  std::vector<PeResource> resources;
};

// Where the parts of a written image lie (file offsets), so that tests can
// damage exactly one of them. 0 when the part is absent.
struct PeLayout {
  uint32_t peHeader = 0;           // "PE\0\0"
  uint32_t optionalHeader = 0;     // the optional header's magic
  uint32_t resourceDataDir = 0;    // the resource entry of the data directories (RVA, size)
  uint32_t sectionTable = 0;       // the first section header
  uint32_t rsrcSectionHeader = 0;  // the .rsrc section header
  uint32_t rsrcRaw = 0;            // the .rsrc section's raw data (the root resource directory)
  uint32_t rsrcRva = 0;            // its virtual address
  uint32_t typeEntries = 0;        // the root directory's first entry
  uint32_t nameDir = 0;            // the name directory of the first type
  uint32_t languageDir = 0;        // the language directory of the first type's first name
  uint32_t dataEntry = 0;          // the data entry of the first resource
  std::vector<uint32_t> data;      // each resource's data, in the order given
};

// The bytes of a VS_VERSIONINFO block: the fixed information with the given
// file and product versions (a.b.c.d), a StringFileInfo table for language
// 0409 code page 04B0 and a VarFileInfo translation.
std::string MakeVersionBlock(const uint16_t fileVersion[4], const uint16_t productVersion[4],
                             const std::string &fileName);

// A PE image with the given resources.
std::string MakePeImage(const PeImageOptions &options, PeLayout *layout = nullptr);

// A 64-bit DLL image whose version resource carries file and product version
// a.b.c.d; the convenience form of the two calls above.
std::string MakeVersionedImage(uint16_t a, uint16_t b, uint16_t c, uint16_t d,
                               const std::string &fileName = "component.dll", bool pe32plus = true,
                               PeLayout *layout = nullptr);

}  // namespace winsim
