// Files: a host directory serves as drive C:, looked up without regard to
// letter case; paths of MAX_PATH characters or more are refused, as Windows
// refuses them to a program that is not aware of long paths. Files can be held open by this process or by
// another one with a sharing mode; a monitor DLL loaded by the running spooler is in use.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>

#include "winsim/internal.h"
#include "winsim/winsim.h"

namespace winsim {

namespace {

struct OpenFile {
  std::string path;  // Windows path as opened
  std::string key;   // PathKey of it
  DWORD access = 0;
  DWORD share = 0;
  int fd = -1;
};
std::map<const void *, OpenFile> g_files;

// Splits "C:\a\b" into components after the drive; false for other drives.
bool SplitDrivePath(const std::string &winPath, std::vector<std::string> *parts) {
  std::string p = winPath;
  if (p.rfind("\\\\?\\", 0) == 0) p = p.substr(4);
  if (p.size() < 2 || (p[0] != 'C' && p[0] != 'c') || p[1] != ':') return false;
  std::string cur;
  for (size_t i = 2; i < p.size(); ++i) {
    char c = p[i] == '/' ? '\\' : p[i];
    if (c == '\\') {
      if (!cur.empty()) parts->push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) parts->push_back(cur);
  for (auto &s : *parts)
    if (s == "." || s == "..") return false;  // no relative walking out of the drive
  return true;
}

// Finds an entry of `dir` named like `name` without regard to ASCII case.
std::string MatchEntry(const std::string &dir, const std::string &name) {
  DIR *d = opendir(dir.c_str());
  if (d == nullptr) return name;
  std::string found = name;
  std::string want = Lower(name);
  while (dirent *e = readdir(d)) {
    if (Lower(e->d_name) == want) {
      found = e->d_name;
      if (found == name) break;
    }
  }
  closedir(d);
  return found;
}

}  // namespace

std::string HostPath(const std::string &winPath) {
  std::vector<std::string> parts;
  if (M().dir.empty() || !SplitDrivePath(winPath, &parts)) return std::string();
  std::string host = M().dir + "/c";
  for (auto &part : parts) host += "/" + MatchEntry(host, part);
  return host;
}

bool FileExists(const std::string &winPath) {
  std::string h = HostPath(winPath);
  struct stat st;
  return !h.empty() && stat(h.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool ReadHostFile(const std::string &winPath, std::string *bytes) {
  std::string h = HostPath(winPath);
  FILE *f = h.empty() ? nullptr : std::fopen(h.c_str(), "rb");
  if (f == nullptr) return false;
  bytes->clear();
  char buf[8192];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes->append(buf, n);
  std::fclose(f);
  return true;
}

void WriteHostFile(const std::string &winPath, const std::string &bytes) {
  std::string h = HostPath(winPath);
  if (h.empty()) return;
  std::filesystem::create_directories(std::filesystem::path(h).parent_path());
  FILE *f = std::fopen(h.c_str(), "wb");
  if (f == nullptr) return;
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

bool RemoveHostFile(const std::string &winPath) {
  std::string h = HostPath(winPath);
  return !h.empty() && ::unlink(h.c_str()) == 0;
}

namespace internal {

std::string PathKey(const std::string &winPath) {
  std::string k = Lower(winPath);
  for (char &c : k)
    if (c == '/') c = '\\';
  if (k.rfind("\\\\?\\", 0) == 0) k = k.substr(4);
  return k;
}

std::string SystemPath(const std::string &fileName) {
  return M().systemDir + "\\" + fileName;
}

void FilesResetProcess() {
  for (auto &f : g_files)
    if (f.second.fd >= 0) ::close(f.second.fd);
  g_files.clear();
}

bool HoldReleased(const FileHold &h) {
  return h.releaseAtMs >= 0 && static_cast<uint64_t>(h.releaseAtMs) <= M().clockMs;
}

void FilesOnClock() {
  auto &holds = M().holds;
  holds.erase(std::remove_if(holds.begin(), holds.end(), HoldReleased), holds.end());
}

bool FileBlocked(const std::string &winPath, DWORD desiredAccess, DWORD shareMode) {
  std::string key = PathKey(winPath);
  bool wantRead = (desiredAccess & GENERIC_READ) != 0;
  bool wantWrite = (desiredAccess & GENERIC_WRITE) != 0;
  bool wantDelete = (desiredAccess & DELETE) != 0;
  auto conflicts = [&](DWORD holderAccess, DWORD holderShare) {
    if (wantRead && !(holderShare & FILE_SHARE_READ)) return true;
    if (wantWrite && !(holderShare & FILE_SHARE_WRITE)) return true;
    if (wantDelete && !(holderShare & FILE_SHARE_DELETE)) return true;
    if ((holderAccess & GENERIC_READ) && !(shareMode & FILE_SHARE_READ)) return true;
    if ((holderAccess & GENERIC_WRITE) && !(shareMode & FILE_SHARE_WRITE)) return true;
    return false;
  };
  for (auto &h : M().holds)
    if (!HoldReleased(h) && PathKey(h.path) == key && conflicts(GENERIC_READ, h.share)) return true;
  for (auto &f : g_files)
    if (f.second.key == key && conflicts(f.second.access, f.second.share)) return true;
  return false;
}

}  // namespace internal
}  // namespace winsim

using namespace winsim;
using winsim::internal::PathKey;

namespace {

// A monitor DLL that the spooler has loaded: in use while it runs and
// until a stop has completed.
bool LoadedBySpooler(const std::string &winPath) {
  Service *spooler = internal::FindService("spooler");
  if (spooler == nullptr || spooler->state == SERVICE_STOPPED || spooler->state == SERVICE_START_PENDING)
    return false;
  std::string key = PathKey(winPath);
  for (auto &m : M().spooler.monitors)
    if (m.loaded && PathKey(internal::SystemPath(m.dll)) == key) return true;
  return false;
}

// Error for a path that is not on drive C:: a bare file name is looked for
// in a current directory that does not hold it; anything else names a
// drive or a directory that is not there.
DWORD OffDriveError(const std::string &path) {
  if (path.empty() || path.find(':') != std::string::npos || path[0] == '\\' || path[0] == '/')
    return ERROR_PATH_NOT_FOUND;
  return ERROR_FILE_NOT_FOUND;
}

// A path of MAX_PATH (260) characters or more, without the "\\?\" prefix
// that lifts the limit: Windows refuses it (the program does not declare
// itself aware of long paths).
bool BeyondMaxPath(LPCWSTR path) {
  if (path == nullptr) return false;
  if (path[0] == u'\\' && path[1] == u'\\' && path[2] == u'?' && path[3] == u'\\') return false;
  size_t n = 0;
  while (path[n] != 0) ++n;
  return n >= MAX_PATH;
}

// Error for a path that does not exist: 3 when its directory is missing too.
DWORD MissingError(const std::string &host) {
  struct stat st;
  std::string parent = std::filesystem::path(host).parent_path().string();
  return (stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) ? ERROR_FILE_NOT_FOUND
                                                                 : ERROR_PATH_NOT_FOUND;
}

}  // namespace

HANDLE WINAPI CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
  std::string path = ToUtf8(lpFileName);
  if (detail::Enter("CreateFileW", path)) return INVALID_HANDLE_VALUE;
  std::string host = HostPath(path);
  if (BeyondMaxPath(lpFileName)) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    detail::Result("error 3 (beyond MAX_PATH)");
    return INVALID_HANDLE_VALUE;
  }
  if (host.empty()) {
    SetLastError(OffDriveError(path));
    detail::Result("error " + std::to_string(GetLastError()));
    return INVALID_HANDLE_VALUE;
  }
  struct stat st;
  bool exists = stat(host.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  if (!exists && (dwCreationDisposition == OPEN_EXISTING || dwCreationDisposition == TRUNCATE_EXISTING)) {
    SetLastError(MissingError(host));
    detail::Result("error " + std::to_string(GetLastError()));
    return INVALID_HANDLE_VALUE;
  }
  if (exists && dwCreationDisposition == CREATE_NEW) {
    SetLastError(ERROR_FILE_EXISTS);
    return INVALID_HANDLE_VALUE;
  }
  bool writes = (dwDesiredAccess & GENERIC_WRITE) != 0;
  if (exists &&
      (internal::FileBlocked(path, dwDesiredAccess, dwShareMode) || (writes && LoadedBySpooler(path)))) {
    SetLastError(ERROR_SHARING_VIOLATION);
    detail::Result("error 32");
    return INVALID_HANDLE_VALUE;
  }
  int flags = writes ? ((dwDesiredAccess & GENERIC_READ) ? O_RDWR : O_WRONLY) : O_RDONLY;
  if (dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == TRUNCATE_EXISTING) flags |= O_TRUNC;
  if (dwCreationDisposition != OPEN_EXISTING && dwCreationDisposition != TRUNCATE_EXISTING) flags |= O_CREAT;
  int fd = ::open(host.c_str(), flags, 0644);
  if (fd < 0) {
    SetLastError(errno == ENOENT ? MissingError(host) : ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  HANDLE h = detail::NewHandle(HandleKind::File);
  OpenFile of;
  of.path = path;
  of.key = PathKey(path);
  of.access = dwDesiredAccess;
  of.share = dwShareMode;
  of.fd = fd;
  g_files[h] = of;
  // Windows reports ERROR_ALREADY_EXISTS on success when an existing file was
  // opened or replaced by CREATE_ALWAYS / OPEN_ALWAYS.
  SetLastError(exists && (dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == OPEN_ALWAYS)
                   ? ERROR_ALREADY_EXISTS
                   : ERROR_SUCCESS);
  detail::Result("ok");
  return h;
}

BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
                     void *lpOverlapped) {
  if (lpNumberOfBytesRead != nullptr) *lpNumberOfBytesRead = 0;
  if (detail::Enter("ReadFile", std::to_string(nNumberOfBytesToRead))) return FALSE;
  auto it = g_files.find(hFile);
  if (it == g_files.end() || !(it->second.access & GENERIC_READ)) {
    SetLastError(it == g_files.end() ? ERROR_INVALID_HANDLE : ERROR_ACCESS_DENIED);
    return FALSE;
  }
  ssize_t n = ::read(it->second.fd, lpBuffer, nNumberOfBytesToRead);
  if (n < 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (lpNumberOfBytesRead != nullptr) *lpNumberOfBytesRead = static_cast<DWORD>(n);
  return TRUE;
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                      LPDWORD lpNumberOfBytesWritten, void *lpOverlapped) {
  if (lpNumberOfBytesWritten != nullptr) *lpNumberOfBytesWritten = 0;
  if (detail::Enter("WriteFile", std::to_string(nNumberOfBytesToWrite))) return FALSE;
  auto it = g_files.find(hFile);
  if (it == g_files.end() || !(it->second.access & GENERIC_WRITE)) {
    SetLastError(it == g_files.end() ? ERROR_INVALID_HANDLE : ERROR_ACCESS_DENIED);
    return FALSE;
  }
  DWORD want = nNumberOfBytesToWrite;
  int64_t &freeBytes = M().diskFreeBytes;
  if (freeBytes >= 0 && static_cast<int64_t>(want) > freeBytes) want = static_cast<DWORD>(freeBytes);
  ssize_t n = want > 0 ? ::write(it->second.fd, lpBuffer, want) : 0;
  if (n < 0) n = 0;
  if (freeBytes >= 0) freeBytes -= n;
  if (lpNumberOfBytesWritten != nullptr) *lpNumberOfBytesWritten = static_cast<DWORD>(n);
  if (static_cast<DWORD>(n) < nNumberOfBytesToWrite) {
    SetLastError(ERROR_DISK_FULL);
    detail::Result("short " + std::to_string(n));
    return FALSE;
  }
  return TRUE;
}

BOOL WINAPI DeleteFileW(LPCWSTR lpFileName) {
  std::string path = ToUtf8(lpFileName);
  if (detail::Enter("DeleteFileW", path)) return FALSE;
  std::string host = HostPath(path);
  struct stat st;
  if (BeyondMaxPath(lpFileName)) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    detail::Result("error 3 (beyond MAX_PATH)");
    return FALSE;
  }
  if (host.empty() || stat(host.c_str(), &st) != 0) {
    SetLastError(host.empty() ? OffDriveError(path) : MissingError(host));
    detail::Result("error " + std::to_string(GetLastError()));
    return FALSE;
  }
  if (S_ISDIR(st.st_mode) || LoadedBySpooler(path)) {
    SetLastError(ERROR_ACCESS_DENIED);
    detail::Result("error 5");
    return FALSE;
  }
  if (internal::FileBlocked(path, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)) {
    SetLastError(ERROR_SHARING_VIOLATION);
    detail::Result("error 32");
    return FALSE;
  }
  ::unlink(host.c_str());
  detail::Result("ok");
  return TRUE;
}

DWORD WINAPI GetFileAttributesW(LPCWSTR lpFileName) {
  std::string path = ToUtf8(lpFileName);
  if (detail::Enter("GetFileAttributesW", path)) return INVALID_FILE_ATTRIBUTES;
  std::string host = HostPath(path);
  struct stat st;
  if (BeyondMaxPath(lpFileName)) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_FILE_ATTRIBUTES;
  }
  if (host.empty() || stat(host.c_str(), &st) != 0) {
    SetLastError(host.empty() ? OffDriveError(path) : MissingError(host));
    return INVALID_FILE_ATTRIBUTES;
  }
  return S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
}

BOOL WINAPI MoveFileExW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, DWORD dwFlags) {
  std::string from = ToUtf8(lpExistingFileName);
  std::string to = ToUtf8(lpNewFileName);
  if (detail::Enter("MoveFileExW", from + " -> " + to + " " + std::to_string(dwFlags))) return FALSE;
  if (from.empty()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (BeyondMaxPath(lpExistingFileName) || BeyondMaxPath(lpNewFileName)) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  if (dwFlags & MOVEFILE_DELAY_UNTIL_REBOOT) {
    if (lpNewFileName == nullptr) {
      internal::AppendPendingDelete(from);
      return TRUE;
    }
    // A rename at restart: both names go into the list.
    internal::AppendPendingPair(from, (dwFlags & MOVEFILE_REPLACE_EXISTING ? "!\\??\\" : "\\??\\") + to);
    return TRUE;
  }
  std::string hostFrom = HostPath(from);
  std::string hostTo = HostPath(to);
  struct stat st;
  if (hostFrom.empty() || stat(hostFrom.c_str(), &st) != 0) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  if (hostTo.empty() || (stat(hostTo.c_str(), &st) == 0 && !(dwFlags & MOVEFILE_REPLACE_EXISTING))) {
    SetLastError(hostTo.empty() ? ERROR_PATH_NOT_FOUND : ERROR_ALREADY_EXISTS);
    return FALSE;
  }
  if (internal::FileBlocked(from, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)) {
    SetLastError(ERROR_SHARING_VIOLATION);
    return FALSE;
  }
  if (::rename(hostFrom.c_str(), hostTo.c_str()) != 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  return TRUE;
}

// Closes any handle of the process; objects of other kinds are handed on.
BOOL WINAPI CloseHandle(HANDLE hObject) {
  if (detail::Enter("CloseHandle", "")) return FALSE;
  auto it = g_files.find(hObject);
  if (it != g_files.end()) {
    ::close(it->second.fd);
    g_files.erase(it);
    detail::DropHandle(hObject);
    return TRUE;
  }
  if (internal::CloseProcessObject(hObject)) return TRUE;
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

namespace winsim::internal {
// Appends one pair to the pending file operations, as the system records
// them: "\??\" before the existing name, the new name as given (empty for a
// deletion), then the list's end.
void AppendPendingPair(const std::string &winPath, const std::string &newName) {
  const char *key = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager";
  const RegValue *old = GetRegValue(key, "PendingFileRenameOperations");
  std::u16string all;
  if (old != nullptr && old->data.size() >= 2) {
    all.resize(old->data.size() / 2);
    std::memcpy(&all[0], old->data.data(), all.size() * 2);
    // The list's end moves behind the new pair. A value without it keeps
    // its last string whole: one that lacks its own zero gets it.
    size_t n = all.size();
    if (n == 1 && all[0] == u'\0')
      all.clear();
    else if (n >= 2 && all[n - 1] == u'\0' && all[n - 2] == u'\0')
      all.pop_back();
    else if (all[n - 1] != u'\0')
      all += u'\0';
  }
  all += u"\\??\\" + ToUtf16(winPath) + u'\0';
  all += ToUtf16(newName) + u'\0';
  all += u'\0';
  std::vector<uint8_t> data(all.size() * 2);
  std::memcpy(data.data(), all.data(), data.size());
  SetRegRaw(key, "PendingFileRenameOperations", REG_MULTI_SZ, data);
}

void AppendPendingDelete(const std::string &winPath) {
  AppendPendingPair(winPath, std::string());
}
}  // namespace winsim::internal
