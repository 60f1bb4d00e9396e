// Modal dialogs: DialogBoxParamW runs the dialog procedure for real.
//
// The program's resources hold one dialog template, 101: a read-only
// multi-line text box (control 1001) and a "Close" push button (control 1,
// IDOK). DialogBoxParamW creates a window for the dialog, sends
// WM_INITDIALOG with the initialisation parameter, records what the
// procedure puts into the window (SetWindowTextW, SetDlgItemTextW) in the
// process's DialogRecord, and then runs the modal loop:
//
// - with Process::dialogClose set, it sends WM_COMMAND with that identifier
//   (IDOK as the "Close" button or Enter, IDCANCEL as Escape or the caption's
//   close box) without showing anything;
// - on a terminal (stdin and stderr), unless WINSIM_DIALOG=stderr, it draws
//   the dialog as text and lets the user scroll the text and close it: Enter
//   gives IDOK, Escape or q IDCANCEL (and so does the end of the input);
// - otherwise it writes the title and the text to stderr and closes the
//   dialog as the "Close" button does.
//
// Only the procedure ends the dialog, through EndDialog. A procedure that
// does not end it on the close command would keep a real dialog open for
// good; here the call returns -1 and the record says it never ended.
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "winsim/internal.h"
#include "winsim/winsim.h"

namespace winsim {
namespace {

const int kLogTemplate = 101;
const int kCloseButton = IDOK;
const int kLogText = 1001;
const DWORD kErrorResourceNameNotFound = 1814;
const DWORD kErrorControlIdNotFound = 1421;
const uint64_t kFirstDialog = 0x00040010;

struct DialogWindow {
  uint64_t handle = 0;
  DLGPROC proc = nullptr;
  size_t record = 0;  // index into P().dialogs
  bool ended = false;
  INT_PTR result = 0;
};

std::vector<DialogWindow> g_open;  // open dialogs, innermost last
uint64_t g_nextDialog = kFirstDialog;

DialogWindow *FindOpen(HWND h) {
  uint64_t v = reinterpret_cast<uintptr_t>(h);
  for (auto &d : g_open)
    if (d.handle == v && v != 0) return &d;
  return nullptr;
}

std::string Hex(uint64_t v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(v));
  return buf;
}

// Sends WM_COMMAND for a control identifier to the dialog's procedure.
void SendCommand(size_t index, int id) {
  DialogWindow d = g_open[index];
  P().dialogs[d.record].closeCommand = id;
  d.proc(reinterpret_cast<HWND>(static_cast<uintptr_t>(d.handle)), WM_COMMAND, static_cast<WPARAM>(id), 0);
}

// ---------------------------------------------------------------------------
// Text of the dialog for the terminal and for stderr
// ---------------------------------------------------------------------------

// The text box's lines: CR LF (or a lone LF) ends a line, tabs go to the
// next multiple of 8, other control characters show as '?'. Each line is a
// run of code points, one column each.
std::vector<std::u32string> BoxLines(const std::string &utf8) {
  std::u16string w = ToUtf16(utf8);
  std::vector<std::u32string> lines(1);
  for (size_t i = 0; i < w.size(); ++i) {
    char32_t c = w[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < w.size() && w[i + 1] >= 0xDC00 && w[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (w[i + 1] - 0xDC00);
      ++i;
    }
    if (c == U'\r' && i + 1 < w.size() && w[i + 1] == u'\n') continue;
    if (c == U'\n') {
      lines.emplace_back();
    } else if (c == U'\t') {
      do lines.back() += U' ';
      while (lines.back().size() % 8 != 0);
    } else {
      lines.back() += (c < 0x20 || c == 0x7F) ? U'?' : c;
    }
  }
  if (lines.size() > 1 && lines.back().empty()) lines.pop_back();
  return lines;
}

std::string Utf8Of(const std::u32string &s) {
  std::u16string w;
  for (char32_t c : s) {
    if (c >= 0x10000) {
      w += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      w += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      w += static_cast<char16_t>(c);
    }
  }
  return ToUtf8(w);
}

// `s` from column `from`, cut or padded to `width` columns.
std::string Columns(const std::u32string &s, size_t from, size_t width) {
  std::u32string part = from < s.size() ? s.substr(from, width) : std::u32string();
  part.resize(width, U' ');
  return Utf8Of(part);
}

void WriteAll(int fd, const std::string &s) {
  size_t done = 0;
  while (done < s.size()) {
    ssize_t n = ::write(fd, s.data() + done, s.size() - done);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

// Without a terminal: the title, the text and the button, as plain lines.
void WriteDialogAsText(const DialogRecord &r) {
  std::string out = "=== " + r.title + " ===\n";
  for (auto &line : BoxLines(r.text)) out += Utf8Of(line) + "\n";
  out += "=== [ " + r.button + " ] ===\n";
  WriteAll(2, out);
}

// ---------------------------------------------------------------------------
// The dialog on a terminal
// ---------------------------------------------------------------------------

enum class Key { None, Enter, Cancel, Up, Down, PageUp, PageDown, Home, End, Left, Right, Eof };

// Reads one key from stdin in raw mode; escape sequences of the cursor keys
// are told from a lone Escape by the bytes that follow it at once.
Key ReadKey() {
  unsigned char c;
  ssize_t n = ::read(0, &c, 1);
  if (n <= 0) return Key::Eof;
  switch (c) {
    case '\r':
    case '\n':
      return Key::Enter;
    case 'q':
    case 'Q':
    case 3:  // Ctrl-C
      return Key::Cancel;
    case 'k':
      return Key::Up;
    case 'j':
      return Key::Down;
    case 'b':
      return Key::PageUp;
    case ' ':
      return Key::PageDown;
    case 'g':
      return Key::Home;
    case 'G':
      return Key::End;
    case 'h':
      return Key::Left;
    case 'l':
      return Key::Right;
    case 27:
      break;
    default:
      return Key::None;
  }
  pollfd p{0, POLLIN, 0};
  if (::poll(&p, 1, 50) <= 0) return Key::Cancel;  // Escape alone
  std::string seq;
  while (seq.size() < 8) {
    if (::read(0, &c, 1) <= 0) break;
    seq += static_cast<char>(c);
    if (seq.size() >= 2 && ((c >= 'A' && c <= 'Z') || c == '~')) break;
    if (::poll(&p, 1, 50) <= 0) break;
  }
  if (seq == "[A" || seq == "OA") return Key::Up;
  if (seq == "[B" || seq == "OB") return Key::Down;
  if (seq == "[C" || seq == "OC") return Key::Right;
  if (seq == "[D" || seq == "OD") return Key::Left;
  if (seq == "[5~") return Key::PageUp;
  if (seq == "[6~") return Key::PageDown;
  if (seq == "[H" || seq == "OH" || seq == "[1~" || seq == "[7~") return Key::Home;
  if (seq == "[F" || seq == "OF" || seq == "[4~" || seq == "[8~") return Key::End;
  return Key::None;
}

// The box on the screen: `width` columns and `rows` lines of text, with the
// first line and column shown.
struct Frame {
  size_t width = 80;  // of the whole box
  size_t rows = 10;   // text lines shown
  size_t top = 0, left = 0;
  size_t TextWidth() const { return width - 7; }  // "| |" text bar "| |"
};

// The dialog box: the title in the frame, the text box with its vertical
// scroll bar, the "Close" button, and a line of key help below.
std::string DrawDialog(const DialogRecord &r, const std::vector<std::u32string> &lines, const Frame &f) {
  size_t inner = f.width - 2;
  std::string out = "\x1b[H\x1b[2J";
  std::vector<std::u32string> titleLines = BoxLines(r.title);
  std::u32string title = titleLines.empty() ? std::u32string() : titleLines[0];
  size_t titleCols = std::min(title.size(), inner - 4);
  out += "+- " + Columns(title, 0, titleCols) + " " + std::string(inner - 3 - titleCols, '-') + "+\r\n";
  // The scroll bar's thumb shows where the lines shown lie in the text.
  size_t total = std::max<size_t>(lines.size(), 1);
  size_t thumb = f.rows, thumbAt = 0;
  if (total > f.rows) {
    thumb = std::max<size_t>(1, f.rows * f.rows / total);
    thumbAt = (f.rows - thumb) * f.top / (total - f.rows);
  }
  std::string edge = "| +" + std::string(f.TextWidth() + 1, '-') + "+ |\r\n";
  out += edge;
  for (size_t i = 0; i < f.rows; ++i) {
    size_t line = f.top + i;
    std::string text =
        line < lines.size() ? Columns(lines[line], f.left, f.TextWidth()) : std::string(f.TextWidth(), ' ');
    char bar = (i >= thumbAt && i < thumbAt + thumb) ? '#' : ':';
    out += "| |" + text + bar + "| |\r\n";
  }
  out += edge;
  std::string button = "[ " + r.button + " ]";
  size_t pad = inner > button.size() + 1 ? inner - button.size() - 1 : 0;
  out += "|" + std::string(pad, ' ') + button + " |\r\n";
  out += "+" + std::string(inner, '-') + "+\r\n";
  std::string help =
      " Enter: " + r.button + "   Esc/q: close   Up/Down PgUp/PgDn Home/End: scroll   Left/Right";
  out += help.substr(0, f.width);
  return out;
}

// Runs the dialog on the terminal until its procedure ends it on a close
// key, or the input ends (which counts as Escape).
void TerminalLoop(size_t index) {
  termios saved{};
  bool raw = ::tcgetattr(0, &saved) == 0;
  if (raw) {
    termios t = saved;
    t.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO | ISIG));
    t.c_iflag &= static_cast<tcflag_t>(~(IXON | ICRNL));
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    ::tcsetattr(0, TCSANOW, &t);
  }
  WriteAll(2, "\x1b[?1049h\x1b[?25l");  // a screen of its own, no cursor
  std::vector<std::u32string> lines = BoxLines(P().dialogs[g_open[index].record].text);
  size_t widest = 0;
  for (auto &l : lines) widest = std::max(widest, l.size());
  Frame f;
  for (;;) {
    size_t cols = 80, screenRows = 24;
    winsize ws{};
    if (::ioctl(2, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0 && ws.ws_row > 0) {
      cols = ws.ws_col;
      screenRows = ws.ws_row;
    }
    f.width = std::max<size_t>(40, std::min<size_t>(cols, 132));
    f.rows = std::max<size_t>(3, std::min<size_t>(screenRows, 60) - std::min<size_t>(screenRows, 8));
    size_t maxTop = lines.size() > f.rows ? lines.size() - f.rows : 0;
    size_t maxLeft = widest > f.TextWidth() ? widest - f.TextWidth() : 0;
    f.top = std::min(f.top, maxTop);
    f.left = std::min(f.left, maxLeft);
    WriteAll(2, DrawDialog(P().dialogs[g_open[index].record], lines, f));
    Key k = ReadKey();
    if (k == Key::Enter) SendCommand(index, IDOK);
    if (k == Key::Cancel || k == Key::Eof) SendCommand(index, IDCANCEL);
    if (g_open[index].ended || k == Key::Eof) break;
    if (k == Key::Up && f.top > 0) --f.top;
    if (k == Key::Down) ++f.top;
    if (k == Key::PageUp) f.top = f.top > f.rows ? f.top - f.rows : 0;
    if (k == Key::PageDown) f.top += f.rows;
    if (k == Key::Home) f.top = f.left = 0;
    if (k == Key::End) f.top = maxTop;
    if (k == Key::Left) f.left = f.left > 8 ? f.left - 8 : 0;
    if (k == Key::Right) f.left += 8;
  }
  WriteAll(2, "\x1b[?25h\x1b[?1049l");
  if (raw) ::tcsetattr(0, TCSANOW, &saved);
}

// The user closes the dialog on a terminal when stdin and stderr are one,
// unless WINSIM_DIALOG=stderr asks for the text on stderr (for scripts and
// test programs run from a terminal).
bool TerminalWanted() {
  const char *mode = std::getenv("WINSIM_DIALOG");
  if (mode != nullptr && std::string(mode) == "stderr") return false;
  return ::isatty(0) && ::isatty(2);
}

}  // namespace

namespace internal {

bool IsDialogWindow(HWND h) {
  return FindOpen(h) != nullptr;
}

HWND FindDialogWindow(const std::string *title) {
  for (size_t i = g_open.size(); i-- > 0;)
    if (title == nullptr || IEquals(P().dialogs[g_open[i].record].title, *title))
      return reinterpret_cast<HWND>(static_cast<uintptr_t>(g_open[i].handle));
  return nullptr;
}

}  // namespace internal
}  // namespace winsim

using namespace winsim;

INT_PTR WINAPI DialogBoxParamW(HINSTANCE hInstance, LPCWSTR lpTemplateName, HWND hWndParent,
                               DLGPROC lpDialogFunc, LPARAM dwInitParam) {
  uintptr_t templ = reinterpret_cast<uintptr_t>(lpTemplateName);
  uint64_t owner = reinterpret_cast<uintptr_t>(hWndParent);
  std::string named = templ >= 0x10000 ? ToUtf8(lpTemplateName) : std::string();
  if (detail::Enter("DialogBoxParamW",
                    "template=" + (templ < 0x10000 ? std::to_string(templ) : "\"" + named + "\"") +
                        " owner=" + Hex(owner) + " param=" + Hex(static_cast<uint64_t>(dwInitParam))))
    return -1;
  // The program's own module (or null for it) holds the one template.
  if ((hInstance != nullptr && hInstance != GetModuleHandleW(nullptr)) || templ != kLogTemplate) {
    SetLastError(kErrorResourceNameNotFound);
    detail::Result("error 1814");
    return -1;
  }
  if (lpDialogFunc == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    detail::Result("error 87");
    return -1;
  }
  if (hWndParent != nullptr && !internal::WindowExists(hWndParent)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    detail::Result("error 1400");
    return -1;
  }

  DialogRecord record;
  record.templateId = kLogTemplate;
  record.owner = owner;
  record.initParam = dwInitParam;
  P().dialogs.push_back(record);
  DialogWindow d;
  d.handle = g_nextDialog;
  g_nextDialog += 0x10;
  d.proc = lpDialogFunc;
  d.record = P().dialogs.size() - 1;
  g_open.push_back(d);
  size_t index = g_open.size() - 1;
  HWND hDlg = reinterpret_cast<HWND>(static_cast<uintptr_t>(d.handle));

  lpDialogFunc(hDlg, WM_INITDIALOG, 0, dwInitParam);
  if (!g_open[index].ended) {
    P().dialogs[g_open[index].record].shown = true;
    if (P().onDialogShown) P().onDialogShown(hDlg);
  }
  if (!g_open[index].ended) {
    int close = P().dialogClose;
    if (close == IDOK || close == IDCANCEL) {
      SendCommand(index, close);
    } else if (TerminalWanted()) {
      TerminalLoop(index);
    } else {
      WriteDialogAsText(P().dialogs[g_open[index].record]);
      SendCommand(index, kCloseButton);
    }
  }

  DialogWindow done = g_open[index];
  g_open.erase(g_open.begin() + static_cast<long>(index));
  DialogRecord &r = P().dialogs[done.record];
  r.ended = done.ended;
  if (!done.ended) {
    // A real dialog would stay open for good.
    std::fprintf(stderr, "winsim: the dialog's procedure did not end it on command %d\n", r.closeCommand);
    r.result = -1;
    detail::Result("never ended");
    return -1;
  }
  r.result = done.result;
  detail::Result("ended " + std::to_string(done.result));
  return done.result;
}

BOOL WINAPI EndDialog(HWND hDlg, INT_PTR nResult) {
  if (detail::Enter("EndDialog", Hex(reinterpret_cast<uintptr_t>(hDlg)) + " " + std::to_string(nResult)))
    return FALSE;
  DialogWindow *d = FindOpen(hDlg);
  if (d == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    detail::Result("error 1400");
    return FALSE;
  }
  d->ended = true;
  d->result = nResult;
  P().dialogs[d->record].ended = true;
  return TRUE;
}

BOOL WINAPI SetDlgItemTextW(HWND hDlg, int nIDDlgItem, LPCWSTR lpString) {
  std::string text = ToUtf8(lpString);
  if (detail::Enter("SetDlgItemTextW",
                    Hex(reinterpret_cast<uintptr_t>(hDlg)) + " " + std::to_string(nIDDlgItem) + " " + text))
    return FALSE;
  DialogWindow *d = FindOpen(hDlg);
  if (d == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    detail::Result("error 1400");
    return FALSE;
  }
  DialogRecord &r = P().dialogs[d->record];
  if (nIDDlgItem == kLogText) {
    r.text = text;
  } else if (nIDDlgItem == kCloseButton) {
    r.button = text;
  } else {
    SetLastError(kErrorControlIdNotFound);
    detail::Result("error 1421");
    return FALSE;
  }
  return TRUE;
}

BOOL WINAPI SetWindowTextW(HWND hWnd, LPCWSTR lpString) {
  std::string text = ToUtf8(lpString);
  if (detail::Enter("SetWindowTextW", Hex(reinterpret_cast<uintptr_t>(hWnd)) + " " + text)) return FALSE;
  if (DialogWindow *d = FindOpen(hWnd)) {
    P().dialogs[d->record].title = text;
    return TRUE;
  }
  if (internal::WindowExists(hWnd)) return TRUE;  // other programs' windows keep their own titles
  SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  detail::Result("error 1400");
  return FALSE;
}
