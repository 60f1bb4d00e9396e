// The registry calls: opening keys, the two-call size protocol of value
// queries with ERROR_MORE_DATA, multi-string data kept byte for byte,
// writing and deleting values with the access the key was opened with.

#include "support/fixture.h"

namespace {

const char kSessionManager[] = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const char kSessionManagerA[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";

using mrvtest::WideBytes;

class RegistryTest : public mrvtest::MachineTest {};

TEST_F(RegistryTest, OpenFindsKeysWithoutRegardToCase) {
  struct Case {
    const char *name;
    HKEY root;
    const char *sub;
    LSTATUS status;
  };
  const Case cases[] = {
      {"session manager", HKEY_LOCAL_MACHINE, kSessionManagerA, ERROR_SUCCESS},
      {"other case", HKEY_LOCAL_MACHINE, "system\\currentcontrolset\\CONTROL\\session manager",
       ERROR_SUCCESS},
      {"run key", HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", ERROR_SUCCESS},
      {"missing key", HKEY_LOCAL_MACHINE, "SOFTWARE\\Nobody", ERROR_FILE_NOT_FOUND},
      {"machine key under the user", HKEY_CURRENT_USER, kSessionManagerA, ERROR_FILE_NOT_FOUND},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    HKEY key = reinterpret_cast<HKEY>(1);
    EXPECT_EQ(RegOpenKeyExA(c.root, c.sub, 0, KEY_READ, &key), c.status);
    if (c.status == ERROR_SUCCESS) {
      EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    } else {
      EXPECT_EQ(key, nullptr);
    }
  }
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManagerA, 0, KEY_READ, nullptr),
            ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryTest, QueryFollowsTheTwoCallSizeProtocol) {
  // Three strings and the list's end, kept as written.
  std::vector<uint8_t> data = WideBytes(std::u16string(u"\\??\\C:\\a.dll\0\0\\??\\C:\\b.dll\0\0", 28));
  winsim::SetRegRaw(kSessionManager, "PendingFileRenameOperations", REG_MULTI_SZ, data);
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManagerA, 0, KEY_READ, &key), ERROR_SUCCESS);

  DWORD type = 0, size = 0;
  EXPECT_EQ(RegQueryValueExW(key, u"PendingFileRenameOperations", nullptr, &type, nullptr, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
  EXPECT_EQ(size, data.size());

  std::vector<uint8_t> buf(data.size() + 8, 0xEE);
  DWORD small = size - 2;
  EXPECT_EQ(RegQueryValueExW(key, u"PendingFileRenameOperations", nullptr, nullptr, buf.data(), &small),
            ERROR_MORE_DATA);
  EXPECT_EQ(small, size);

  DWORD got = static_cast<DWORD>(buf.size());
  EXPECT_EQ(RegQueryValueExW(key, u"pendingfilerenameoperations", nullptr, nullptr, buf.data(), &got),
            ERROR_SUCCESS);
  EXPECT_EQ(got, size);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), buf.begin()));
  EXPECT_EQ(buf[size], 0xEE);  // nothing added behind the data

  EXPECT_EQ(RegQueryValueExW(key, u"NoSuchValue", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegQueryValueExW(key, u"PendingFileRenameOperations", nullptr, nullptr, buf.data(), nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(RegistryTest, MalformedDataIsReturnedAsStored) {
  struct Case {
    const char *name;
    std::vector<uint8_t> data;
  };
  std::vector<uint8_t> odd = WideBytes(u"\\??\\C:\\a.dll");
  odd.push_back(0);
  const Case cases[] = {
      {"empty", {}},
      {"last string without its zero", WideBytes(u"\\??\\C:\\a.dll")},
      {"odd byte count", odd},
  };
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManagerA, 0, KEY_READ, &key), ERROR_SUCCESS);
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    winsim::SetRegRaw(kSessionManager, "PendingFileRenameOperations", REG_MULTI_SZ, c.data);
    DWORD size = 99;
    ASSERT_EQ(RegQueryValueExW(key, u"PendingFileRenameOperations", nullptr, nullptr, nullptr, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(size, c.data.size());
    std::vector<uint8_t> buf(size + 1, 0xEE);
    DWORD got = size;
    ASSERT_EQ(RegQueryValueExW(key, u"PendingFileRenameOperations", nullptr, nullptr, buf.data(), &got),
              ERROR_SUCCESS);
    EXPECT_EQ(got, size);
    EXPECT_EQ(std::vector<uint8_t>(buf.begin(), buf.begin() + got), c.data);
    EXPECT_EQ(buf[size], 0xEE);  // nothing added behind the data
  }
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(RegistryTest, SetAndDeleteNeedTheWriteRight) {
  const char kRunA[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
  const std::u16string text = u"C:\\Program Files\\Morvalente\\mrvtray.exe";
  const DWORD bytes = static_cast<DWORD>((text.size() + 1) * 2);
  struct Case {
    const char *name;
    REGSAM access;
    LSTATUS set, query, remove;
  };
  const Case cases[] = {
      {"read only", KEY_READ, ERROR_ACCESS_DENIED, ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED},
      {"write only", KEY_WRITE, ERROR_SUCCESS, ERROR_ACCESS_DENIED, ERROR_SUCCESS},
      {"read and write", KEY_READ | KEY_WRITE, ERROR_SUCCESS, ERROR_SUCCESS, ERROR_SUCCESS},
      {"all access", KEY_ALL_ACCESS, ERROR_SUCCESS, ERROR_SUCCESS, ERROR_SUCCESS},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunA, 0, c.access, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(key, u"MorvalenteTray", 0, REG_SZ, reinterpret_cast<const BYTE *>(text.c_str()),
                             bytes),
              c.set);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(key, u"MorvalenteTray", nullptr, nullptr, nullptr, &size), c.query);
    if (c.query == ERROR_SUCCESS) {
      EXPECT_EQ(size, bytes);
    }
    const winsim::RegValue *v = winsim::GetRegValue("HKLM\\" + std::string(kRunA), "MorvalenteTray");
    EXPECT_EQ(v != nullptr, c.set == ERROR_SUCCESS);
    if (v != nullptr) {
      EXPECT_EQ(v->type, static_cast<DWORD>(REG_SZ));
    }
    EXPECT_EQ(RegDeleteValueA(key, "MorvalenteTray"), c.remove);
    if (c.remove == ERROR_SUCCESS) {
      EXPECT_EQ(winsim::GetRegValue("HKLM\\" + std::string(kRunA), "MorvalenteTray"), nullptr);
      EXPECT_EQ(RegDeleteValueA(key, "MorvalenteTray"), ERROR_FILE_NOT_FOUND);
    }
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  }
}

TEST_F(RegistryTest, KeysAreAccountedAndClosedOnce) {
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManagerA, 0, KEY_READ, &key), ERROR_SUCCESS);
  EXPECT_EQ(winsim::Leaks(), std::vector<std::string>{"handle: key"});
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExW(key, u"PendingFileRenameOperations", nullptr, nullptr, nullptr, &size),
            ERROR_INVALID_HANDLE);
  // The predefined keys need no closing; closing them is harmless.
  EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
  EXPECT_TRUE(winsim::Leaks().empty());
}

TEST_F(RegistryTest, InjectedFaultsReturnTheirCode) {
  winsim::AddFault("RegOpenKeyExA", ERROR_ACCESS_DENIED);
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManagerA, 0, KEY_READ, &key), ERROR_ACCESS_DENIED);
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManagerA, 0, KEY_READ, &key), ERROR_SUCCESS);
  winsim::AddFault("RegQueryValueExW", ERROR_MORE_DATA, 2);
  winsim::SetRegMultiSz(kSessionManager, "PendingFileRenameOperations", {"\\??\\C:\\x", ""});
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExW(key, u"PendingFileRenameOperations", nullptr, nullptr, nullptr, &size),
            ERROR_SUCCESS);
  std::vector<uint8_t> buf(size);
  DWORD got = size;
  EXPECT_EQ(RegQueryValueExW(key, u"PendingFileRenameOperations", nullptr, nullptr, buf.data(), &got),
            ERROR_MORE_DATA);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

}  // namespace
