// CloseHelpViewer: the product's help viewer windows are closed one per
// pass, 50 ms apart, with an upper bound on the passes.
#include <ostream>
#include <string>
#include <vector>

#include "app/dispatch.h"
#include "companion/help_viewer.h"
#include "support/fixture.h"

namespace {

using winsim::M;
using winsim::P;

winsim::HelpWindow Window(const char *title, bool closes = true) {
  winsim::HelpWindow w;
  w.title = title;
  w.closesOnRequest = closes;
  return w;
}

struct HelpRow {
  const char *name;
  std::vector<winsim::HelpWindow> windows;
  size_t searches, requests;
  uint64_t waitedMs;
  std::vector<std::string> left;  // titles of the windows still open
};
void PrintTo(const HelpRow &r, std::ostream *os) {
  *os << r.name;
}

class HelpViewerTest : public mrvtest::MachineTest, public ::testing::WithParamInterface<HelpRow> {};

TEST_P(HelpViewerTest, ClosesTheProductsWindows) {
  const HelpRow &r = GetParam();
  M().helpWindows = r.windows;
  Begin();
  CloseHelpViewer();
  EXPECT_EQ(winsim::CallCount("FindWindowW"), r.searches) << r.name;
  EXPECT_EQ(winsim::CallCount("PostMessageW"), r.requests) << r.name;
  EXPECT_EQ(P().waitedMs, r.waitedMs) << r.name;
  std::vector<std::string> left;
  for (auto &w : M().helpWindows) left.push_back(w.title);
  EXPECT_EQ(left, r.left) << r.name;
  for (auto &e : P().journal) {
    if (e.call == "FindWindowW") {
      EXPECT_EQ(e.args, "HH Parent | Morvalente Help") << r.name;
    }
    if (e.call == "PostMessageW") {
      EXPECT_EQ(e.args.substr(e.args.find(' ')), " 0x112 0xf060 0x0") << r.name;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HelpViewerTest,
    ::testing::Values(
        HelpRow{"none", {}, 1, 0, 0, {}},
        HelpRow{"another_products_help_only", {Window("Other Help")}, 1, 0, 0, {"Other Help"}},
        HelpRow{"one", {Window("Morvalente Help")}, 2, 1, 50, {}},
        HelpRow{"two_one_per_pass", {Window("Morvalente Help"), Window("Morvalente Help")}, 3, 2, 100, {}},
        HelpRow{"two_among_others",
                {Window("Other Help"), Window("Morvalente Help"), Window("Morvalente Help")},
                3,
                2,
                100,
                {"Other Help"}},
        // A window that never closes holds the installer up for 200 passes of
        // 50 ms, not for good.
        HelpRow{"never_closes", {Window("Morvalente Help", false)}, 200, 200, 10000, {"Morvalente Help"}}),
    [](const ::testing::TestParamInfo<HelpRow> &i) { return std::string(i.param.name); });

TEST_F(HelpViewerTest, RunCommandsCloseTheHelpFirst) {
  for (const char16_t *command : {u"install.exe install", u"install.exe uninstall"}) {
    SCOPED_TRACE(mrvtest::U8(command));
    M().helpWindows = {Window("Morvalente Help")};
    winsim::BeginProcess(command);
    DispatchCommand(GetModuleHandleW(nullptr));
    EXPECT_TRUE(M().helpWindows.empty());
    ASSERT_FALSE(P().journal.empty());
    size_t firstFind = 0;
    while (P().journal[firstFind].call != "FindWindowW") ++firstFind;
    for (size_t i = 0; i < firstFind; ++i)
      EXPECT_NE(P().journal[i].call, "OpenSCManagerW") << "the help closes before the run starts";
  }
}

TEST_F(HelpViewerTest, QueriesLeaveTheHelpOpen) {
  M().helpWindows = {Window("Morvalente Help")};
  winsim::BeginProcess(u"install.exe removetray");
  DispatchCommand(GetModuleHandleW(nullptr));
  EXPECT_EQ(M().helpWindows.size(), 1u);
}

}  // namespace
