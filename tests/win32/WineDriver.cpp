// morvek_wine_driver: drives a running MorvekScan.exe from outside, as a user
// would, for the end-to-end tests under Wine. One command per call; the test
// script checks what it prints. All texts are printed as UTF-8.
//
//   wait-window MS            wait for the scan window; prints "hwnd pid"
//   text ID                   a control's text
//   visible ID                1 when the control is visible, else 0
//   enabled ID                1 when the control is enabled, else 0
//   combo                     "count N", "selected I", then one entry a line
//   select I                  selects list entry I as the user would
//   click ID                  presses a button (BM_CLICK)
//   wait-text ID TEXT MS      waits until the control shows TEXT
//   wait-not-text ID TEXT MS  waits until the control shows something else
//   wait-visible ID 0|1 MS    waits until the control is hidden / shown
//   wait-int-at-least ID N MS waits until the control's number is >= N
//   client-size               "W H" of the dialog's client area
//   client-rect               "X Y W H": the dialog's client area on the screen
//   chart-count               number of child windows of class MFCDrawPicCtrl
//   chart-rect                "X Y W H": the chart's client area on the screen
//   chart-tooltip             the chart's tooltip tools and their texts
//   gdi-repaints N            GDI objects of the program before/after N forced
//                             repaints of the chart (and N/10 of the window)
//   hover-chart               moves the pointer over the chart and back out
//   cursor X Y                moves the mouse pointer
//   close MS                  closes the window (WM_CLOSE) and waits for the
//                             program to end; prints "exited CODE after MS ms"
//   reference SLOT FILE.bmp   scans disk SLOT here, without a window, through
//                             the same logic, and writes the chart the
//                             renderer paints for it (540 x 460, 24-bit BMP)
//   dismiss-box CAPTION MS HOLD
//                             waits for a message box (a "#32770" window with
//                             that caption), keeps it up HOLD ms, presses OK
//                             and waits until it is gone; prints "pid P",
//                             "text T", "icon 0|1", "buttons N" (their IDs),
//                             "scan-window-seen 0|1" (whether the scan window
//                             existed at any moment while the box was up);
//                             fails when the scan window comes first
//   dismiss-owned-box MS      waits for a message box the scan window owns,
//                             prints "title ..." and "text ...", clicks OK
//   no-box CAPTION MS         prints "none" when no message box with that
//                             caption shows within MS ms, else fails
//   report-promo              the report's two fixed promotional lines
#include <windows.h>
#include <commctrl.h>
#include <fcntl.h>
#include <io.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/CScan.h"
#include "app/win32/Win32Platform.h"
#include "chart/ChartRenderer.h"
#include "res/resource.h"
#include "scan/ReportTexts.h"
#include "tests/win32/GdiCount.h"

namespace {

const wchar_t kDialogTitle[] = L"Morvek\u78c1\u76d8\u626b\u63cf V.1.1.20071201";
const wchar_t kChartClass[] = L"MFCDrawPicCtrl";

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int n =
      ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

void Print(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

[[noreturn]] void Fail(const std::string& why) {
  std::fprintf(stderr, "morvek_wine_driver: %s\n", why.c_str());
  std::exit(1);
}

// The scan window: the dialog with that title that has the Start button (a
// message box of the program carries the same title).
HWND FindScanWindow() {
  for (HWND h = ::FindWindowExW(nullptr, nullptr, L"#32770", kDialogTitle); h;
       h = ::FindWindowExW(nullptr, h, L"#32770", kDialogTitle))
    if (::GetDlgItem(h, 1000) != nullptr) return h;
  return nullptr;
}

// A visible dialog (message box) the scan window owns, or null.
HWND FindOwnedBox(HWND owner) {
  for (HWND h = ::FindWindowExW(nullptr, nullptr, L"#32770", nullptr); h;
       h = ::FindWindowExW(nullptr, h, L"#32770", nullptr))
    if (h != owner && ::GetWindow(h, GW_OWNER) == owner && ::IsWindowVisible(h)) return h;
  return nullptr;
}

HWND RequireScanWindow() {
  HWND dialog = FindScanWindow();
  if (!dialog) Fail("the scan window is not there");
  return dialog;
}

HWND Control(HWND dialog, int id) {
  HWND control = ::GetDlgItem(dialog, id);
  if (!control) Fail("no control " + std::to_string(id));
  return control;
}

// Sent with a timeout: a window that hangs makes the test fail, not wait.
LRESULT Send(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT timeoutMs = 10000) {
  DWORD_PTR result = 0;
  if (!::SendMessageTimeoutW(hwnd, message, wParam, lParam, SMTO_NORMAL, timeoutMs, &result))
    Fail("the window did not answer message " + std::to_string(message) + " within " + std::to_string(timeoutMs) +
         " ms");
  return static_cast<LRESULT>(result);
}

std::wstring TextOf(HWND control) {
  wchar_t buffer[1024] = {};
  Send(control, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer));
  return buffer;
}

template <class Pred>
bool WaitFor(int timeoutMs, Pred pred) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (true) {
    if (pred()) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

BOOL CALLBACK CollectChart(HWND child, LPARAM param) {
  wchar_t cls[64] = {};
  ::GetClassNameW(child, cls, 64);
  if (std::wcscmp(cls, kChartClass) == 0) reinterpret_cast<std::vector<HWND>*>(param)->push_back(child);
  return TRUE;
}

std::vector<HWND> ChartWindows(HWND dialog) {
  std::vector<HWND> found;
  ::EnumChildWindows(dialog, &CollectChart, reinterpret_cast<LPARAM>(&found));
  return found;
}

struct TooltipSearch {
  DWORD pid;
  std::vector<HWND> tips;
};

BOOL CALLBACK CollectTooltip(HWND top, LPARAM param) {
  auto* search = reinterpret_cast<TooltipSearch*>(param);
  wchar_t cls[64] = {};
  ::GetClassNameW(top, cls, 64);
  DWORD owner = 0;
  ::GetWindowThreadProcessId(top, &owner);
  if (owner == search->pid && std::wcscmp(cls, L"tooltips_class32") == 0) search->tips.push_back(top);
  return TRUE;
}

HWND RequireChart(HWND dialog) {
  const std::vector<HWND> charts = ChartWindows(dialog);
  if (charts.empty()) Fail("there is no chart window");
  return charts.front();
}

// --- the reference picture ----------------------------------------------------

class HeadlessView : public IScanView {
 public:
  void ShowPercent(const std::string&) override {}
  void ShowElapsed(const std::string&) override {}
  void ShowSpeed(const std::string&) override {}
  void ShowRemaining(const std::string&) override {}
  void ShowBadCount(const std::string&) override {}
  void ShowDiskSize(const std::string&) override {}
  void ShowCellSize(const std::string&) override {}
  void ShowRunning(bool) override {}
  void AddDiskEntry(const std::string&) override { ++m_entries; }
  int SelectDiskEntry(int index) override { return index >= 0 && index < m_entries ? index : -1; }
  std::unique_ptr<CDrawPicModel> CreateChart() override {
    auto model = std::make_unique<CDrawPicModel>();
    m_model = model.get();
    return model;
  }
  void InvalidateMap() override {}
  void OpenReport(const std::string&) override {}

  CDrawPicModel* m_model = nullptr;

 private:
  int m_entries = 0;
};

bool WriteBmp(const CPixelSurface& surface, const std::string& path) {
  const std::vector<uint8_t> rows = surface.ToDibRows();
  BITMAPFILEHEADER file{};
  BITMAPINFOHEADER info{};
  info.biSize = sizeof info;
  info.biWidth = surface.Width();
  info.biHeight = surface.Height();
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biCompression = BI_RGB;
  info.biSizeImage = static_cast<DWORD>(rows.size());
  file.bfType = 0x4D42;  // "BM"
  file.bfOffBits = sizeof file + sizeof info;
  file.bfSize = static_cast<DWORD>(file.bfOffBits + rows.size());
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(&file), sizeof file);
  out.write(reinterpret_cast<const char*>(&info), sizeof info);
  out.write(reinterpret_cast<const char*>(rows.data()), static_cast<std::streamsize>(rows.size()));
  return static_cast<bool>(out);
}

int Reference(int slot, const std::string& path) {
  CWin32Platform platform;
  HeadlessView view;
  CScan scan(platform.Ports(view));
  scan.OnInitDialog();
  scan.OnSelchangeDisk(slot);
  if (!scan.Disk().RecordOfSlot(slot)) Fail("no disk in slot " + std::to_string(slot));
  scan.OnStart();
  scan.WaitForWorker();
  if (!view.m_model) Fail("the scan made no chart");
  CPixelSurface surface(CDrawPicModel::kMapWidth, CDrawPicModel::kMapHeight);
  PaintChart(*view.m_model, surface, CDrawPicModel::kMapWidth, CDrawPicModel::kMapHeight, nullptr);
  if (!WriteBmp(surface, path)) Fail("cannot write " + path);
  Print("cells " + std::to_string(view.m_model->GetCurveCount()) + " bad " + std::to_string(scan.Run().BadCount()));
  return 0;
}

// --- message boxes ------------------------------------------------------------

HWND FindBox(const std::wstring& caption) {
  HWND box = ::FindWindowW(L"#32770", caption.c_str());
  return box && ::IsWindowVisible(box) ? box : nullptr;
}

struct BoxParts {
  std::wstring text;
  bool icon = false;
  std::vector<int> buttons;
};

BOOL CALLBACK CollectBoxPart(HWND child, LPARAM param) {
  auto* parts = reinterpret_cast<BoxParts*>(param);
  wchar_t cls[64] = {};
  ::GetClassNameW(child, cls, 64);
  if (_wcsicmp(cls, L"Static") == 0) {
    if ((::GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
      parts->icon = true;
    } else {
      const std::wstring text = TextOf(child);
      if (!text.empty()) parts->text += text;
    }
  } else if (_wcsicmp(cls, L"Button") == 0 && ::IsWindowVisible(child)) {
    parts->buttons.push_back(::GetDlgCtrlID(child));
  }
  return TRUE;
}

int DismissBox(const std::wstring& caption, int timeoutMs, int holdMs) {
  bool scanWindowSeen = false;
  HWND box = nullptr;
  if (!WaitFor(timeoutMs, [&] {
        box = FindBox(caption);
        scanWindowSeen = scanWindowSeen || FindScanWindow() != nullptr;
        return box != nullptr || scanWindowSeen;
      }))
    Fail("no message box \"" + Utf8(caption) + "\" appeared");
  if (!box) Fail("the scan window appeared and no message box \"" + Utf8(caption) + "\" before it");
  // While the box is up the program must not get any further.
  WaitFor(holdMs, [&] {
    scanWindowSeen = scanWindowSeen || FindScanWindow() != nullptr;
    return false;
  });
  scanWindowSeen = scanWindowSeen || FindScanWindow() != nullptr;

  DWORD pid = 0;
  ::GetWindowThreadProcessId(box, &pid);
  BoxParts parts;
  ::EnumChildWindows(box, &CollectBoxPart, reinterpret_cast<LPARAM>(&parts));
  std::string buttons = std::to_string(parts.buttons.size());
  for (int id : parts.buttons) buttons.append(" ").append(std::to_string(id));

  HWND ok = ::GetDlgItem(box, IDOK);
  if (!ok) Fail("the message box has no OK button");
  Send(ok, BM_CLICK, 0, 0);
  if (!WaitFor(5000, [&] { return !::IsWindow(box) || !::IsWindowVisible(box); }))
    Fail("the message box stayed after OK");

  Print("pid " + std::to_string(pid));
  Print("text " + Utf8(parts.text));
  Print(std::string("icon ") + (parts.icon ? "1" : "0"));
  Print("buttons " + buttons);
  Print(std::string("scan-window-seen ") + (scanWindowSeen ? "1" : "0"));
  return 0;
}

// Waits for a message box the scan window owns, prints its text and title,
// and closes it with OK.
int DismissOwnedBox(int timeoutMs) {
  HWND dialog = RequireScanWindow();
  HWND box = nullptr;
  if (!WaitFor(timeoutMs, [&] { return (box = FindOwnedBox(dialog)) != nullptr; }))
    Fail("no message box of the scan window appeared");
  BoxParts parts;
  ::EnumChildWindows(box, &CollectBoxPart, reinterpret_cast<LPARAM>(&parts));
  Print("title " + Utf8(TextOf(box)));
  Print("text " + Utf8(parts.text));
  HWND ok = ::GetDlgItem(box, IDOK);
  if (!ok) Fail("the message box has no OK button");
  Send(ok, BM_CLICK, 0, 0);
  if (!WaitFor(5000, [&] { return !::IsWindow(box) || !::IsWindowVisible(box); }))
    Fail("the message box stayed after OK");
  return 0;
}

int NoBox(const std::wstring& caption, int watchMs) {
  HWND box = nullptr;
  if (WaitFor(watchMs, [&] { return (box = FindBox(caption)) != nullptr; })) {
    BoxParts parts;
    ::EnumChildWindows(box, &CollectBoxPart, reinterpret_cast<LPARAM>(&parts));
    Fail("a message box \"" + Utf8(caption) + "\" appeared: " + Utf8(parts.text));
  }
  Print("none");
  return 0;
}

// The report's texts are code page 936 bytes.
std::string Utf8FromGbk(const char* gbk) {
  const int n = ::MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, gbk, -1, nullptr, 0);
  if (n <= 0) Fail("not GBK text");
  std::wstring wide(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, gbk, -1, wide.data(), n);
  wide.resize(static_cast<size_t>(n - 1));
  return Utf8(wide);
}

int Number(const char* text) { return std::atoi(text); }

}  // namespace

int main(int argc, char** argv) {
  _setmode(_fileno(stdout), _O_BINARY);  // "\n" alone: the script reads these lines
  if (argc < 2) Fail("no command (see the comment at the top of WineDriver.cpp)");
  const std::string command = argv[1];
  auto arg = [&](int i) -> const char* {
    if (i >= argc) Fail("missing argument " + std::to_string(i) + " of " + command);
    return argv[i];
  };

  if (command == "reference") return Reference(Number(arg(2)), arg(3));
  if (command == "dismiss-box") return DismissBox(Wide(arg(2)), Number(arg(3)), Number(arg(4)));
  if (command == "no-box") return NoBox(Wide(arg(2)), Number(arg(3)));
  if (command == "dismiss-owned-box") return DismissOwnedBox(Number(arg(2)));
  if (command == "report-promo") {
    Print(Utf8FromGbk(kPromoDownload));
    Print(Utf8FromGbk(kPromoFeatures));
    return 0;
  }
  if (command == "cursor") {
    ::SetCursorPos(Number(arg(2)), Number(arg(3)));
    return 0;
  }
  if (command == "wait-window") {
    HWND dialog = nullptr;
    const bool found = WaitFor(Number(arg(2)), [&] {
      dialog = FindScanWindow();
      return dialog && ::IsWindowVisible(dialog) && ::GetDlgItem(dialog, IDC_DISKS) != nullptr;
    });
    if (!found) Fail("the scan window did not appear");
    DWORD pid = 0;
    ::GetWindowThreadProcessId(dialog, &pid);
    Print(std::to_string(reinterpret_cast<UINT_PTR>(dialog)) + " " + std::to_string(pid));
    return 0;
  }

  HWND dialog = RequireScanWindow();
  if (command == "text") {
    Print(Utf8(TextOf(Control(dialog, Number(arg(2))))));
  } else if (command == "visible") {
    Print(::IsWindowVisible(Control(dialog, Number(arg(2)))) ? "1" : "0");
  } else if (command == "enabled") {
    Print(::IsWindowEnabled(Control(dialog, Number(arg(2)))) ? "1" : "0");
  } else if (command == "combo") {
    HWND combo = Control(dialog, IDC_DISKS);
    const LRESULT count = Send(combo, CB_GETCOUNT, 0, 0);
    Print("count " + std::to_string(count));
    Print("selected " + std::to_string(Send(combo, CB_GETCURSEL, 0, 0)));
    for (LRESULT i = 0; i < count; ++i) {
      wchar_t entry[512] = {};
      if (Send(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0) >= 512) Fail("list entry too long");
      Send(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(entry));
      Print(Utf8(entry));
    }
  } else if (command == "select") {
    HWND combo = Control(dialog, IDC_DISKS);
    const int index = Number(arg(2));
    if (Send(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0) != index) Fail("no list entry " + std::string(arg(2)));
    Send(dialog, WM_COMMAND, MAKEWPARAM(IDC_DISKS, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
  } else if (command == "click") {
    Send(Control(dialog, Number(arg(2))), BM_CLICK, 0, 0);
  } else if (command == "wait-text" || command == "wait-not-text") {
    HWND control = Control(dialog, Number(arg(2)));
    const std::wstring want = Wide(arg(3));
    const bool equal = command == "wait-text";
    if (!WaitFor(Number(arg(4)), [&] { return (TextOf(control) == want) == equal; }))
      Fail("control " + std::string(arg(2)) + " shows \"" + Utf8(TextOf(control)) + "\"");
    Print(Utf8(TextOf(control)));
  } else if (command == "wait-visible") {
    HWND control = Control(dialog, Number(arg(2)));
    const bool want = Number(arg(3)) != 0;
    if (!WaitFor(Number(arg(4)), [&] { return (::IsWindowVisible(control) != FALSE) == want; }))
      Fail("control " + std::string(arg(2)) + (want ? " stayed hidden" : " stayed visible"));
  } else if (command == "wait-int-at-least") {
    HWND control = Control(dialog, Number(arg(2)));
    const int least = Number(arg(3));
    if (!WaitFor(Number(arg(4)), [&] {
          const std::wstring text = TextOf(control);
          return !text.empty() && _wtoi(text.c_str()) >= least;
        }))
      Fail("control " + std::string(arg(2)) + " shows \"" + Utf8(TextOf(control)) + "\"");
    Print(Utf8(TextOf(control)));
  } else if (command == "client-size") {
    RECT rc{};
    ::GetClientRect(dialog, &rc);
    Print(std::to_string(rc.right - rc.left) + " " + std::to_string(rc.bottom - rc.top));
  } else if (command == "client-rect") {
    RECT rc{};
    ::GetClientRect(dialog, &rc);
    POINT origin{0, 0};
    ::ClientToScreen(dialog, &origin);
    Print(std::to_string(origin.x) + " " + std::to_string(origin.y) + " " + std::to_string(rc.right) + " " +
          std::to_string(rc.bottom));
  } else if (command == "chart-count") {
    Print(std::to_string(ChartWindows(dialog).size()));
  } else if (command == "chart-rect") {
    HWND chart = RequireChart(dialog);
    RECT rc{};
    ::GetClientRect(chart, &rc);
    POINT origin{0, 0};
    ::ClientToScreen(chart, &origin);
    Print(std::to_string(origin.x) + " " + std::to_string(origin.y) + " " + std::to_string(rc.right) + " " +
          std::to_string(rc.bottom));
  } else if (command == "gdi-repaints") {
    HWND chart = RequireChart(dialog);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(dialog, &pid);
    HANDLE process = ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    if (!process) Fail("cannot open the program's process");
    // The count must see objects come and go, or "constant" means nothing.
    const long own = CountGdiObjects(::GetCurrentProcess());
    HBRUSH probe = ::CreateSolidBrush(RGB(1, 2, 3));
    const long ownWithProbe = CountGdiObjects(::GetCurrentProcess());
    ::DeleteObject(probe);
    if (own < 0 || ownWithProbe != own + 1) Fail("GDI objects cannot be counted here");
    const int repaints = Number(arg(2));
    auto repaint = [&](HWND hwnd) {
      ::RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
      Send(hwnd, WM_NULL, 0, 0);  // the paint has been done when this returns
    };
    repaint(chart);
    repaint(dialog);
    const long before = CountGdiObjects(process);
    for (int i = 0; i < repaints; ++i) {
      repaint(chart);
      if (i % 10 == 0) repaint(dialog);
    }
    const long after = CountGdiObjects(process);
    ::CloseHandle(process);
    Print("before " + std::to_string(before) + " after " + std::to_string(after));
  } else if (command == "hover-chart") {
    HWND chart = RequireChart(dialog);
    RECT rc{};
    ::GetWindowRect(chart, &rc);
    for (int i = 0; i < 5; ++i) {
      ::SetCursorPos(rc.left + 40 + 20 * i, rc.top + 40 + 10 * i);
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ::SetCursorPos(::GetSystemMetrics(SM_CXSCREEN) - 2, ::GetSystemMetrics(SM_CYSCREEN) - 2);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    Send(dialog, WM_NULL, 0, 0, 3000);  // still answering
  } else if (command == "chart-tooltip") {
    HWND chart = RequireChart(dialog);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(chart, &pid);
    TooltipSearch search{pid, {}};
    ::EnumWindows(&CollectTooltip, reinterpret_cast<LPARAM>(&search));
    Print("tooltips " + std::to_string(search.tips.size()));
    for (HWND tip : search.tips) Print("tools " + std::to_string(Send(tip, TTM_GETTOOLCOUNT, 0, 0)));
  } else if (command == "close") {
    DWORD pid = 0;
    ::GetWindowThreadProcessId(dialog, &pid);
    HANDLE process = ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, pid);
    if (!process) Fail("cannot open the program's process");
    const auto start = std::chrono::steady_clock::now();
    ::PostMessageW(dialog, WM_CLOSE, 0, 0);
    const DWORD waited = ::WaitForSingleObject(process, static_cast<DWORD>(Number(arg(2))));
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    DWORD code = 0;
    ::GetExitCodeProcess(process, &code);
    ::CloseHandle(process);
    if (waited != WAIT_OBJECT_0) Fail("the program still runs " + std::to_string(ms) + " ms after WM_CLOSE");
    Print("exited " + std::to_string(code) + " after " + std::to_string(ms) + " ms");
  } else {
    Fail("unknown command " + command);
  }
  return 0;
}
