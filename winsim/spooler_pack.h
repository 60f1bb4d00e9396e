// The spooler's shared pieces: packing of records (fixed records at the start
// of the caller's buffer, their strings from the end of it downward, as the
// spooler does; a packer without a buffer only counts the bytes needed), the
// size protocol of the enumerations and queries, and the lookups that the
// spooler's files share (printers, drivers, ports, environments, handles).
#pragma once

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "winsim/winsim.h"

namespace winsim {

class Packer {
 public:
  // Strings are packed downward from the end of the buffer, kept on an even
  // offset so that every string is WCHAR-aligned.
  Packer(void *buf, size_t size) : buf_(static_cast<uint8_t *>(buf)), size_(size), top_(size & ~size_t(1)) {}

  bool Writing() const { return buf_ != nullptr; }

  // Reserves the fixed records; returns where they start (null when counting).
  void *Records(size_t bytes) {
    records_ = bytes;
    return buf_;
  }

  // Places a string and returns its address in the buffer (null when counting).
  LPWSTR Str(const std::string &utf8) {
    std::u16string w = ToUtf16(utf8);
    size_t bytes = (w.size() + 1) * 2;
    strings_ += bytes;
    if (buf_ == nullptr) return nullptr;
    top_ -= bytes;
    std::memcpy(buf_ + top_, w.c_str(), bytes);
    return reinterpret_cast<LPWSTR>(buf_ + top_);
  }

  // A multi-string (zero-separated, double-zero-ended); null when empty.
  LPWSTR MultiStr(const std::vector<std::string> &items) {
    if (items.empty()) return nullptr;
    std::u16string w;
    for (auto &s : items) w += ToUtf16(s) + u'\0';
    w += u'\0';
    size_t bytes = w.size() * 2;
    strings_ += bytes;
    if (buf_ == nullptr) return nullptr;
    top_ -= bytes;
    std::memcpy(buf_ + top_, w.data(), bytes);
    return reinterpret_cast<LPWSTR>(buf_ + top_);
  }

  DWORD Needed() const { return static_cast<DWORD>(records_ + strings_); }

 private:
  uint8_t *buf_;
  size_t size_;
  size_t top_;
  size_t records_ = 0;
  size_t strings_ = 0;
};

// The environment of the spooler's own platform, which a missing environment
// argument stands for.
extern const char kNativeEnvironment[];

// Driver subdirectory of an environment ("x64"), or null for an unknown one.
const char *DriverSubdir(const std::string &environment);
// The environment named by a call (null or empty: the native one). False,
// with ERROR_INVALID_ENVIRONMENT set, when the spooler does not know it.
bool ResolveEnvironment(LPCWSTR given, std::string *environment);

void PackPrinter2(Packer &pk, PRINTER_INFO_2W *rec, const Printer &p);
// Size of a driver record of `level` (1 to 6), 0 for other levels.
size_t DriverRecordSize(DWORD level);
// Fills the driver record at `rec` (of DriverRecordSize(level) bytes).
void PackDriver(Packer &pk, void *rec, DWORD level, const Driver &d);

// Runs the size protocol of a call that returns `count` records packed by
// `pack`: no buffer or one too small gives FALSE with ERROR_INSUFFICIENT_BUFFER
// and the size needed; nothing to return gives TRUE with 0 needed.
// `pcReturned` may be null for the single-record queries.
BOOL FinishPacked(const std::function<void(Packer &)> &pack, size_t count, LPBYTE buf, DWORD cbBuf,
                  LPDWORD pcbNeeded, LPDWORD pcReturned, const char *what);

// Fails the call with RPC_S_SERVER_UNAVAILABLE when the spooler is not running.
bool RefuseWhenStopped();
// The checks a listing call (EnumPrintersW, EnumMonitorsW,
// EnumPrinterDriversW) makes before its level: both counts given (else
// RPC_X_NULL_REF_POINTER), *pcReturned set to 0, the spooler running, and
// no server named (else ERROR_INVALID_NAME). False when the call fails there,
// its error recorded.
bool StartListing(LPCWSTR server, LPDWORD pcbNeeded, LPDWORD pcReturned);
// Records a failure `error` as the last error and in the journal.
void Fail(DWORD error);

// Lookups (names compared without regard to case, as the spooler does).
Printer *FindPrinter(const std::string &name);
Driver *FindDriver(const std::string &name, const std::string &environment);
// Monitors still registered (a removed monitor whose DLL stays loaded is not).
Monitor *FindMonitor(const std::string &name);
// The ports of a printer's port field ("LPT1:,LPT2:" names two).
std::vector<std::string> SplitPorts(const std::string &portField);
bool PortKnown(const std::string &port);
// True when some printer prints to one of `ports`.
bool PortsInUse(const std::vector<std::string> &ports);

// The printer behind an open printer handle, checked for `needAccess` (any
// one of its bits suffices when `anyOf`). Null, with the last error set, for
// an unknown or stale handle, a server handle, a deleted printer or missing
// access.
Printer *PrinterOfHandle(HANDLE h, DWORD needAccess, bool anyOf = false);

}  // namespace winsim
