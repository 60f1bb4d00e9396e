// What the fuzz targets share: a simulated machine of their own, and checks
// that stop the fuzzer (abort) with a message when a rule is broken.
#pragma once

#include <cstdint>
#include <string>

#include "winsim/winsim.h"

namespace fuzzsupport {

// Creates a fresh machine in a directory of its own (in memory when the host
// has /dev/shm) and makes it current; the directory goes when the process
// ends. Returns the directory.
std::string NewFuzzMachine(const winsim::NewMachineOptions &options = {});

// Aborts with `what` when `ok` is false.
void Expect(bool ok, const std::string &what);

// Aborts when the current process holds a block or a handle.
void ExpectNoLeaks(const char *where);

// UTF-16 text from raw bytes, two bytes to a unit (little-endian; an odd
// last byte is dropped), up to the first zero unit.
std::u16string Utf16FromBytes(const uint8_t *data, size_t size);

}  // namespace fuzzsupport
