// Packing of spooler records: fixed records at the start of the caller's
// buffer, their strings from the end of it downward, as the spooler does.
// A packer without a buffer only counts the bytes needed.
#pragma once

#include <cstring>
#include <string>

#include "winsim/winsim.h"

namespace winsim {

class Packer {
 public:
  Packer(void *buf, size_t size) : buf_(static_cast<uint8_t *>(buf)), size_(size), top_(size) {}

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

const char *DriverSubdir(const std::string &environment);
void PackPrinter2(Packer &pk, PRINTER_INFO_2W *rec, const Printer &p);
bool RefuseWhenStopped();

}  // namespace winsim
