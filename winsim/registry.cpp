// Registry: HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER, keys with typed values.
#include <cstring>
#include <map>

#include "winsim/internal.h"
#include "winsim/winsim.h"

namespace winsim {

namespace {
std::map<const void *, std::string> g_openKeys;  // handle -> full key path
std::map<const void *, REGSAM> g_keyAccess;      // handle -> access it was opened with

bool IsPredefined(HKEY h) {
  return h == HKEY_LOCAL_MACHINE || h == HKEY_CURRENT_USER || h == HKEY_CLASSES_ROOT;
}

// True when the handle was opened with `need` (the predefined keys have
// every right).
bool Granted(HKEY h, REGSAM need) {
  if (IsPredefined(h)) return true;
  auto it = g_keyAccess.find(h);
  if (it == g_keyAccess.end()) return true;
  const REGSAM kMaximumAllowed = 0x02000000;
  return (it->second & kMaximumAllowed) != 0 || (it->second & need) == need;
}

std::string RootName(HKEY root) {
  if (root == HKEY_LOCAL_MACHINE) return "HKLM";
  if (root == HKEY_CURRENT_USER) return "HKCU";
  auto it = g_openKeys.find(root);
  return it == g_openKeys.end() ? std::string() : it->second;
}

std::string Normalize(const std::string &path) {
  std::string out;
  for (char c : path) {
    if (c == '/') c = '\\';
    if (c == '\\' && (out.empty() || out.back() == '\\')) continue;
    out += c;
  }
  while (!out.empty() && out.back() == '\\') out.pop_back();
  // Accept long root names.
  static const std::pair<const char *, const char *> roots[] = {{"hkey_local_machine", "HKLM"},
                                                                {"hkey_current_user", "HKCU"}};
  for (auto &r : roots) {
    size_t n = std::strlen(r.first);
    if (Lower(out.substr(0, n)) == r.first && (out.size() == n || out[n] == '\\'))
      out = r.second + out.substr(n);
  }
  return out;
}
}  // namespace

RegKey *FindKey(const std::string &path) {
  auto it = M().registry.find(Lower(Normalize(path)));
  return it == M().registry.end() ? nullptr : &it->second;
}

RegKey &EnsureKey(const std::string &path) {
  std::string norm = Normalize(path);
  // Create every parent too, as RegCreateKeyEx would.
  size_t pos = 0;
  while ((pos = norm.find('\\', pos + 1)) != std::string::npos) {
    std::string parent = norm.substr(0, pos);
    RegKey &k = M().registry[Lower(parent)];
    if (k.path.empty()) k.path = parent;
  }
  RegKey &k = M().registry[Lower(norm)];
  if (k.path.empty()) k.path = norm;
  return k;
}

void SetRegRaw(const std::string &key, const std::string &name, DWORD type,
               const std::vector<uint8_t> &data) {
  RegKey &k = EnsureKey(key);
  RegValue &v = k.values[Lower(name)];
  v.name = name;
  v.type = type;
  v.data = data;
}

void SetRegString(const std::string &key, const std::string &name, const std::string &utf8) {
  std::u16string w = ToUtf16(utf8);
  std::vector<uint8_t> data((w.size() + 1) * 2, 0);
  std::memcpy(data.data(), w.data(), w.size() * 2);
  SetRegRaw(key, name, REG_SZ, data);
}

void SetRegMultiSz(const std::string &key, const std::string &name, const std::vector<std::string> &utf8) {
  std::u16string all;
  for (auto &s : utf8) {
    all += ToUtf16(s);
    all += u'\0';
  }
  all += u'\0';
  std::vector<uint8_t> data(all.size() * 2);
  std::memcpy(data.data(), all.data(), data.size());
  SetRegRaw(key, name, REG_MULTI_SZ, data);
}

const RegValue *GetRegValue(const std::string &key, const std::string &name) {
  RegKey *k = FindKey(key);
  if (k == nullptr) return nullptr;
  auto it = k->values.find(Lower(name));
  return it == k->values.end() ? nullptr : &it->second;
}

namespace internal {
void RegistryResetProcess() {
  g_openKeys.clear();
  g_keyAccess.clear();
}
}  // namespace internal

}  // namespace winsim

using namespace winsim;

namespace {
RegKey *KeyOf(HKEY h) {
  std::string path = RootName(h);
  return path.empty() ? nullptr : FindKey(path);
}
}  // namespace

LSTATUS WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                             PHKEY phkResult) {
  std::string sub = AnsiToUtf8(lpSubKey);
  if (detail::Enter("RegOpenKeyExA", sub)) return static_cast<LSTATUS>(GetLastError());
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  std::string root = RootName(hKey);
  if (root.empty()) return ERROR_INVALID_HANDLE;
  std::string path = sub.empty() ? root : root + "\\" + sub;
  RegKey *k = FindKey(path);
  if (k == nullptr) {
    detail::Result("2");
    return ERROR_FILE_NOT_FOUND;
  }
  HANDLE h = detail::NewHandle(HandleKind::Key);
  g_openKeys[h] = k->path;
  g_keyAccess[h] = samDesired;
  *phkResult = static_cast<HKEY>(h);
  detail::Result("0");
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegCloseKey(HKEY hKey) {
  if (detail::Enter("RegCloseKey", "")) return static_cast<LSTATUS>(GetLastError());
  if (IsPredefined(hKey)) return ERROR_SUCCESS;
  if (!detail::IsHandle(hKey, HandleKind::Key)) return ERROR_INVALID_HANDLE;
  g_openKeys.erase(hKey);
  g_keyAccess.erase(hKey);
  detail::DropHandle(hKey);
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                                LPBYTE lpData, LPDWORD lpcbData) {
  std::string name = ToUtf8(lpValueName);
  if (detail::Enter("RegQueryValueExW", name)) return static_cast<LSTATUS>(GetLastError());
  RegKey *k = KeyOf(hKey);
  if (k == nullptr) return ERROR_INVALID_HANDLE;
  if (lpData != nullptr && lpcbData == nullptr) return ERROR_INVALID_PARAMETER;
  if (!Granted(hKey, KEY_QUERY_VALUE)) {
    detail::Result("5");
    return ERROR_ACCESS_DENIED;
  }
  auto it = k->values.find(Lower(name));
  if (it == k->values.end()) {
    detail::Result("2");
    return ERROR_FILE_NOT_FOUND;
  }
  const RegValue &v = it->second;
  if (lpType != nullptr) *lpType = v.type;
  DWORD size = static_cast<DWORD>(v.data.size());
  if (lpData == nullptr) {
    if (lpcbData != nullptr) *lpcbData = size;
    return ERROR_SUCCESS;
  }
  if (*lpcbData < size) {
    *lpcbData = size;
    detail::Result("234");
    return ERROR_MORE_DATA;
  }
  if (size > 0) std::memcpy(lpData, v.data.data(), size);
  *lpcbData = size;
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType,
                              const BYTE *lpData, DWORD cbData) {
  std::string name = ToUtf8(lpValueName);
  if (detail::Enter("RegSetValueExW", name)) return static_cast<LSTATUS>(GetLastError());
  RegKey *k = KeyOf(hKey);
  if (k == nullptr) return ERROR_INVALID_HANDLE;
  if (lpData == nullptr && cbData != 0) return ERROR_INVALID_PARAMETER;
  if (!Granted(hKey, KEY_SET_VALUE)) {
    detail::Result("5");
    return ERROR_ACCESS_DENIED;
  }
  std::vector<uint8_t> data(lpData, lpData + cbData);
  SetRegRaw(k->path, name, dwType, data);
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
  std::string name = AnsiToUtf8(lpValueName);
  if (detail::Enter("RegDeleteValueA", name)) return static_cast<LSTATUS>(GetLastError());
  RegKey *k = KeyOf(hKey);
  if (k == nullptr) return ERROR_INVALID_HANDLE;
  if (!Granted(hKey, KEY_SET_VALUE)) {
    detail::Result("5");
    return ERROR_ACCESS_DENIED;
  }
  if (k->values.erase(Lower(name)) == 0) {
    detail::Result("2");
    return ERROR_FILE_NOT_FOUND;
  }
  return ERROR_SUCCESS;
}
