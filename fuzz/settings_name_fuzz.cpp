// A printer's settings name (printer data "SubKey", plain and under
// "DsUser") of any type, size and content: reading it, remembering it for
// the re-creation, writing it back to a new printer and clearing its
// "deleted" mark.
//
// Input: for each of the two places (plain, then "DsUser") a flag byte
// (bit 0: the value is there; bits 1 to 3: its type), a length (2 bytes,
// little-endian) and that many bytes of data.
#include <cstring>
#include <string>
#include <vector>

#include "app/context.h"
#include "fuzz/fuzz_machine.h"
#include "spool/printers.h"

namespace {

using fuzzsupport::Expect;

struct Place {
  bool there = false;
  DWORD type = REG_SZ;
  std::vector<uint8_t> bytes;
};

// Types a "SubKey" value may have; the text type most often.
const DWORD kTypes[] = {REG_SZ, REG_SZ, REG_SZ, REG_BINARY, REG_DWORD, REG_MULTI_SZ, REG_EXPAND_SZ, REG_NONE};

// Reads bytes from the front of the input; past its end everything is 0.
struct Reader {
  const uint8_t *data;
  size_t size;
  size_t at = 0;
  uint8_t Byte() { return at < size ? data[at++] : 0; }
};

// A flag byte (bit 0: the value is there; bits 1 to 3: its type), a length
// (2 bytes, little-endian, at most 300) and that many bytes.
Place TakePlace(Reader &in) {
  Place p;
  uint8_t flags = in.Byte();
  p.there = (flags & 1) != 0;
  p.type = kTypes[(flags >> 1) & 7];
  size_t length = in.Byte();
  length |= static_cast<size_t>(in.Byte()) << 8;
  if (length > 300) length = 300;
  for (size_t i = 0; i < length && in.at < in.size; ++i) p.bytes.push_back(in.Byte());
  return p;
}

// The name a place gives: a REG_SZ that fits 64 bytes and ends inside them,
// up to its first zero; nullptr when it gives none.
bool NameOf(const Place &p, std::string *name) {
  if (!p.there || p.type != REG_SZ || p.bytes.size() > 64) return false;
  size_t n = 0;
  while (n < p.bytes.size() && p.bytes[n] != 0) ++n;
  if (n >= 64) return false;  // 64 characters or more: too long
  name->assign(reinterpret_cast<const char *>(p.bytes.data()), n);
  return true;
}

void Store(winsim::Printer &printer, const std::string &key, const Place &p) {
  if (!p.there) return;
  winsim::PrinterDataValue v;
  v.name = "SubKey";
  v.type = p.type;
  v.data = p.bytes;
  printer.data[key]["subkey"] = v;
}

std::string Read(HANDLE printer) {
  char buffer[260];
  std::memset(buffer, 0, sizeof buffer);
  ReadSubKey(printer, buffer);
  for (size_t i = SettingsNameBytes; i < sizeof buffer; ++i)
    Expect(buffer[i] == 0, "ReadSubKey wrote beyond the bytes it offers");
  return std::string(buffer);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzzsupport::NewFuzzMachine();
  winsim::Monitor m;
  m.name = "Morvalente:";
  m.environment = "Windows x64";
  m.dll = "gwrmon64.dll";
  m.ports = {"Morvalente:"};
  winsim::M().spooler.monitors.push_back(m);
  winsim::Driver d;
  d.name = "Morvalente printer";
  d.environment = "Windows x64";
  winsim::M().spooler.drivers.push_back(d);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  Reader in{data, size};
  Place plain = TakePlace(in);
  Place keyed = TakePlace(in);

  auto &printers = winsim::M().spooler.printers;
  printers.clear();
  winsim::Printer p;
  p.name = "Morvalente";
  p.portName = "Morvalente:";
  p.driverName = "Morvalente printer";
  Store(p, "", plain);
  Store(p, "dsuser", keyed);
  printers.push_back(p);
  winsim::BeginProcess(u"install.exe in");

  std::string want;
  bool named = NameOf(plain, &want) || NameOf(keyed, &want);
  if (!named) want.clear();

  HANDLE printer = nullptr;
  Expect(OpenPrinterW(const_cast<LPWSTR>(u"Morvalente"), &printer, nullptr) && printer != nullptr, "open");
  std::string got = Read(printer);
  Expect(got == want, "settings name \"" + got + "\", expected \"" + want + "\"");
  ClosePrinter(printer);

  // Remembered as it was read.
  InstallContext ctx = {};
  LoadPrinterList(&ctx.Printers);
  Expect(ctx.Printers.Count == 1, "the printer is listed");
  Expect(SavePrinterSettings(&ctx, &ctx.Printers.Entries[0]), "the printer's settings are taken care of");
  if (want.empty()) {
    Expect(ctx.SavedPrinters == nullptr, "a printer without a settings name is not remembered");
  } else {
    Expect(ctx.SavedPrinters != nullptr && want == ctx.SavedPrinters->SettingsName, "remembered as read");
    // Written to the re-created printer, it reads back the same, and its
    // "deleted" mark can be cleared.
    printers.clear();
    winsim::Printer fresh;
    fresh.name = "Morvalente";
    fresh.portName = "Morvalente:";
    fresh.driverName = "Morvalente printer";
    printers.push_back(fresh);
    PRINTER_DEFAULTSW all = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    Expect(OpenPrinterW(const_cast<LPWSTR>(u"Morvalente"), &printer, &all) && printer != nullptr,
           "open again");
    Expect(WriteSubKey(printer, ctx.SavedPrinters->SettingsName), "written back");
    Expect(Read(printer) == want, "a remembered name reads back as it was");
    ClosePrinter(printer);
    std::string path = "Morvalentes\\" + want;
    ClearDeletedMark(path.c_str());
  }
  FreeContext(&ctx);
  fuzzsupport::ExpectNoLeaks("the settings name's way through a reinstall");
  return 0;
}
