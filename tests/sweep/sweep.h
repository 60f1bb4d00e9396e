// The fault sweep: whole commands on prepared machines, with one Win32 call
// made to fail at a time, and the rules every such run must keep.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "winsim/winsim.h"

namespace sweep {

enum class Kind { Install, Uninstall, Query };

struct Scenario {
  std::string name;
  std::u16string commandLine;
  Kind kind = Kind::Query;
  std::set<unsigned> exitCodes;  // what the dispatcher may answer for this command
  unsigned baselineExit = 0;     // its answer when nothing fails
  // Brings a fresh machine (already current) into the scenario's state.
  std::function<void()> prepare;
};

// The scenarios of the sweep.
const std::vector<Scenario> &Scenarios();
const Scenario *FindScenario(const std::string &name);

// The error codes each call is made to fail with: codes the real call gives.
// Calls without an entry are not swept (see sweep.cpp for why).
const std::map<std::string, std::vector<DWORD>> &FaultTable();

// What the product's objects look like on the machine, for comparing runs.
struct ProductState {
  bool monitor = false;
  bool driver = false;
  std::set<std::string> printers;  // names of the printers on the product's driver
  bool runValue = false;
  bool monitorFile = false;         // the monitor's file is in the system directory
  bool monitorFilePending = false;  // ... and is to be deleted at the next restart
  std::string Describe() const;
  // The spooler's objects and the Run value; the monitor's file is judged
  // on its own.
  bool operator==(const ProductState &o) const {
    return monitor == o.monitor && driver == o.driver && printers == o.printers && runValue == o.runValue;
  }
};
ProductState ReadProductState();

// One run of a command on a fresh copy of a prepared machine.
struct Outcome {
  unsigned exitCode = 0;
  uint64_t waitedMs = 0;
  std::vector<std::string> leaks;
  std::string log;  // the run log as the dialog showed it
  std::map<std::string, uint32_t> callCounts;
  std::vector<winsim::JournalEntry> journal;
  ProductState after;
};

// A prepared machine saved in a directory, and a work directory that each
// run copies it into.
class Bench {
 public:
  explicit Bench(const Scenario &scenario);
  ~Bench();
  Bench(const Bench &) = delete;
  Bench &operator=(const Bench &) = delete;

  // Runs the scenario's command on a fresh copy; with `call` not empty, the
  // k-th call of `call` fails with `error`.
  Outcome Execute(const std::string &call = std::string(), DWORD error = 0, uint32_t k = 0);

 private:
  const Scenario &scenario_;
  std::string templateDir_;
  std::string workDir_;
};

// One faulted run and the rules it broke (empty when none).
struct Finding {
  std::string scenario, call;
  DWORD error = 0;
  uint32_t k = 0;
  std::string site;  // the arguments of the faulted call in the run without fault
  std::vector<std::string> broken;
  unsigned exitCode = 0;
  bool mustReport = false;  // the failure is one the run reports as an error line
  std::string Describe() const;
};

// Whether the documented behaviour makes this failure an error line of the
// run: the failed call is entry `index` of the journal of the run without
// fault (whose earlier entries tell which file a read or write is about).
bool MustReportError(const Scenario &scenario, const std::vector<winsim::JournalEntry> &journal, long index,
                     DWORD error);
bool MustReportError(const Scenario &scenario, const std::string &call, const std::string &args, DWORD error);

// Checks a faulted run against the rules, given the run without fault.
Finding Check(const Scenario &scenario, const Outcome &baseline, const Outcome &faulted,
              const std::string &call, DWORD error, uint32_t k);

// The file calls of a run (CreateFileW, DeleteFileW, MoveFileExW, and the
// program CreateProcessW starts) whose path
// is not empty and not a full file path: a bare name would be looked for in
// the current directory, and a path ending in a separator names a directory.
std::vector<std::string> UnsafeFileCalls(const std::vector<winsim::JournalEntry> &journal);

// The position k (1-based, among the calls of `call`) of the first call of
// `call` with exactly these arguments (any when empty) that comes after the
// first call of `after` (from the start when empty); 0 when there is none.
uint32_t FindPosition(const std::vector<winsim::JournalEntry> &journal, const std::string &call,
                      const std::string &args, const std::string &after = std::string());

// The positions k (1-based) of a call that the sweep tries: all of them, or
// a sample when there are many and the full sweep is not asked for
// (MRV_SWEEP_FULL=1 in the environment asks for it).
std::vector<uint32_t> Positions(uint32_t count);
bool FullSweep();

// Virtual time a run may take at most.
const uint64_t kRunTimeLimitMs = 10 * 60 * 1000;

}  // namespace sweep
