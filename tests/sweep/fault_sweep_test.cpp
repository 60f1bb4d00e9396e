// Every Win32 call a command makes, made to fail one at a time with the
// errors the real call gives, on a fresh copy of the prepared machine: the
// run ends, leaves nothing behind, answers with one of the command's exit
// codes, reports what must be reported and never calls a failure a success.
#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>

#include "sweep/sweep.h"

namespace {

using sweep::Bench;
using sweep::Finding;
using sweep::Outcome;
using sweep::Scenario;

class FaultSweep : public ::testing::TestWithParam<std::string> {};

TEST_P(FaultSweep, EveryFailureKeepsTheRules) {
  const Scenario *scenario = sweep::FindScenario(GetParam());
  ASSERT_NE(scenario, nullptr);
  Bench bench(*scenario);

  Outcome baseline = bench.Execute();
  ASSERT_EQ(baseline.exitCode, scenario->baselineExit) << baseline.log;
  ASSERT_TRUE(baseline.leaks.empty());

  size_t names = 0, positions = 0, positionsInRun = 0, runs = 0, mustReport = 0;
  std::vector<Finding> findings;
  for (const auto &[call, count] : baseline.callCounts) {
    auto errors = sweep::FaultTable().find(call);
    if (errors == sweep::FaultTable().end()) continue;
    ++names;
    positionsInRun += count;
    for (uint32_t k : sweep::Positions(count)) {
      ++positions;
      for (DWORD error : errors->second) {
        Outcome faulted = bench.Execute(call, error, k);
        ++runs;
        Finding f = sweep::Check(*scenario, baseline, faulted, call, error, k);
        if (f.mustReport) ++mustReport;
        if (!f.broken.empty()) findings.push_back(f);
      }
    }
  }
  std::cout << "sweep " << scenario->name << ": " << names << " calls, " << positions << " of "
            << positionsInRun << " call positions, " << runs << " faulted runs (" << mustReport
            << " of them must write an error line), " << findings.size() << " broke a rule"
            << (sweep::FullSweep() ? " (full)" : " (sampled)") << std::endl;
  std::string all;
  for (size_t i = 0; i < findings.size() && i < 60; ++i) all += findings[i].Describe() + "\n";
  EXPECT_TRUE(findings.empty()) << findings.size() << " runs broke a rule:\n" << all;
}

INSTANTIATE_TEST_SUITE_P(Scenarios, FaultSweep,
                         ::testing::Values("in", "reinstall", "un", "in_notray", "removetray", "onInit",
                                           "onChkDrv", "def.set", "upgrade", "un_held"),
                         [](const ::testing::TestParamInfo<std::string> &i) {
                           std::string n = i.param;
                           for (char &c : n)
                             if (c == '.') c = '_';
                           return n;
                         });

}  // namespace

namespace {

// MRV_SWEEP_SHOW=scenario:call:error:k shows one faulted run: its exit code,
// its log and the calls it made.
TEST(FaultSweepShow, OneRun) {
  const char *show = std::getenv("MRV_SWEEP_SHOW");
  if (show == nullptr) GTEST_SKIP() << "set MRV_SWEEP_SHOW=scenario:call:error:k";
  std::string request = show;
  std::vector<std::string> parts;
  for (size_t start = 0;;) {
    size_t end = request.find(':', start);
    parts.push_back(request.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  ASSERT_EQ(parts.size(), 4u) << request;
  const Scenario *scenario = sweep::FindScenario(parts[0]);
  ASSERT_NE(scenario, nullptr) << parts[0];
  Bench bench(*scenario);
  Outcome o = bench.Execute(parts[1], static_cast<DWORD>(std::stoul(parts[2])),
                            static_cast<uint32_t>(std::stoul(parts[3])));
  std::cout << "exit " << o.exitCode << ", waited " << o.waitedMs << " ms, " << o.after.Describe() << "\n"
            << o.log << "\n";
  for (auto &e : o.journal)
    if (e.call != "HeapAlloc" && e.call != "HeapReAlloc" && e.call != "MultiByteToWideChar")
      std::cout << "  " << e.call << "(" << e.args << ") " << e.result << "\n";
}

}  // namespace
