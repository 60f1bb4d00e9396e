// The build number of a file: the fourth number of its product version, or
// -1 for anything without a readable version resource.
#include <functional>
#include <string>

#include "support/fixture.h"
#include "sys/build_number.h"
#include "winsim/pe_writer.h"

namespace {

const char kPath[] = "C:\\Windows\\System32\\gwrmon64.dll";
const char16_t kPathW[] = u"C:\\Windows\\System32\\gwrmon64.dll";

void PutU32(std::string &b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

struct BuildRow {
  const char *name;
  std::function<void()> place;  // writes kPath, or not
  LONG build;
};

class BuildNumberTest : public mrvtest::MachineTest {};

TEST_F(BuildNumberTest, FourthNumberOfTheProductVersion) {
  auto write = [](std::string bytes) { return [bytes] { winsim::WriteHostFile(kPath, bytes); }; };
  // A product version different from the file version: the product one counts.
  winsim::PeImageOptions split;
  const uint16_t fileVersion[4] = {9, 9, 9, 9};
  const uint16_t productVersion[4] = {1, 2, 3, 2563};
  split.resources.push_back({16, 1, 0x409, winsim::MakeVersionBlock(fileVersion, productVersion, "x.dll")});
  winsim::PeLayout layout;
  std::string good = winsim::MakeVersionedImage(1, 2, 3, 2563, "gwrmon64.dll", true, &layout);
  std::string badSignature = good;
  PutU32(badSignature, layout.data[0] + 40, 0x12345678);
  std::string shortFixed = good;
  shortFixed[layout.data[0] + 2] = 20;  // the fixed information claims 20 bytes
  shortFixed[layout.data[0] + 3] = 0;

  const BuildRow rows[] = {
      {"1.2.3.2563", write(good), 2563},
      {"PE32 image", write(winsim::MakeVersionedImage(1, 2, 3, 2563, "x.dll", false)), 2563},
      {"product version counts, not file version", write(winsim::MakePeImage(split)), 2563},
      {"build 65535", write(winsim::MakeVersionedImage(7, 7, 7, 65535)), 65535},
      {"build 0", write(winsim::MakeVersionedImage(1, 0, 0, 0)), 0},
      {"component file of build 2451", write(winsim::MakeComponentFile("gwrmon64.dll", 2451)), 2451},
      {"no version resource", write(winsim::MakeComponentFile("gwrmon64.dll", -1)), -1},
      {"missing file", [] {}, -1},
      {"a text file", write("gwrmon64.dll 1.2.3.2563\r\n"), -1},
      {"an empty file", write(""), -1},
      {"a truncated image", write(good.substr(0, layout.data[0] + 60)), -1},
      {"headers only", write(good.substr(0, 0x200)), -1},
      {"fixed information with a wrong signature", write(badSignature), -1},
      {"fixed information too short", write(shortFixed), -1},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    winsim::RemoveHostFile(kPath);
    row.place();
    EXPECT_EQ(BuildNumber(kPathW), row.build);
    EXPECT_TRUE(winsim::Leaks().empty());
  }
  EXPECT_EQ(BuildNumber(u"C:\\No\\Such\\Dir\\gwrmon64.dll"), -1);
  EXPECT_EQ(BuildNumber(u"C:\\Windows\\System32"), -1);
}

TEST_F(BuildNumberTest, FailedCallsGiveMinusOneAndFreeTheBlock) {
  winsim::WriteHostFile(kPath, winsim::MakeVersionedImage(1, 2, 3, 2563));
  for (const char *call :
       {"GetFileVersionInfoSizeW", "GlobalAlloc", "GetFileVersionInfoW", "VerQueryValueW"}) {
    SCOPED_TRACE(call);
    Begin();
    winsim::ClearFaults();
    winsim::AddFault(call, ERROR_ACCESS_DENIED);
    EXPECT_EQ(BuildNumber(kPathW), -1);
    EXPECT_TRUE(winsim::Leaks().empty());
    EXPECT_EQ(BuildNumber(kPathW), 2563);  // the fault hit once only
  }
  winsim::ClearFaults();
}

TEST_F(BuildNumberTest, ReadsIntoABlockOfTheReportedSize) {
  winsim::WriteHostFile(kPath, winsim::MakeVersionedImage(1, 2, 3, 2563));
  EXPECT_EQ(BuildNumber(kPathW), 2563);
  std::string sizeResult, allocArgs;
  for (auto &e : winsim::P().journal) {
    if (e.call == "GetFileVersionInfoSizeW") sizeResult = e.result;
    if (e.call == "GlobalAlloc") allocArgs = e.args;
  }
  EXPECT_FALSE(sizeResult.empty());
  EXPECT_EQ(allocArgs, sizeResult);
  EXPECT_EQ(winsim::CallCount("VerQueryValueW"), 1u);
}

}  // namespace
