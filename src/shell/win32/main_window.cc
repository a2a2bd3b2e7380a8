#include "shell/win32/main_window.h"

#include <dwmapi.h>

#include "shell/app_ui.h"
#include "shell/win32/hwnd_dispatcher.h"
#include "shell/win32/resource.h"
#include "shell/win32/webview_host.h"
#include "shell/win32/win32_platform.h"

namespace varnholt_app {

namespace {

constexpr wchar_t kMainClass[] = L"VarnholtMain";
constexpr wchar_t kWebHostClass[] = L"VarnholtWebHost";
constexpr COLORREF kWhite = 0xFFFFFF;
constexpr int kWidth = 1400;  // at 96 dpi
constexpr int kHeight = 860;
// Not in every SDK's headers; unknown to systems before Windows 11, which
// then keep square corners.
constexpr DWORD kWindowCornerPreference = 33;  // DWMWA_WINDOW_CORNER_PREFERENCE
constexpr DWORD kCornerRound = 2;              // DWMWCP_ROUND

MainWindowParts* parts = nullptr;
HWND mainWindow = nullptr;
HWND webHostWindow = nullptr;

void onCreate(HWND window) {
  mainWindow = window;
  parts->platform.attachWindow(window);
  HINSTANCE instance = GetModuleHandleW(nullptr);

  WNDCLASSW hostClass{};
  hostClass.style = CS_HREDRAW | CS_VREDRAW;  // its message line stays centred
  hostClass.lpfnWndProc = webHostWindowProc;
  hostClass.hInstance = instance;
  hostClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  hostClass.hbrBackground = CreateSolidBrush(kWhite);
  hostClass.lpszClassName = kWebHostClass;
  RegisterClassW(&hostClass);
  webHostWindow = CreateWindowExW(0, kWebHostClass, L"",
                                  WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN,
                                  0, 0, 100, 100, window, nullptr, instance, nullptr);

  const DWORD corners = kCornerRound;
  DwmSetWindowAttribute(window, kWindowCornerPreference, &corners, sizeof corners);

  parts->webView.ensureWebView(webHostWindow);
  resizeWebHost(window);
  parts->app.onCreate();
}

void onDestroy() {
  // The view goes while its host window still exists.
  parts->webView.release();
  // No task reaches the window from now on; those already queued for it
  // would die with it and are freed unrun.
  parts->platform.windowClosing();
  parts->app.onDestroy();
  mainWindow = nullptr;
  webHostWindow = nullptr;
}

// The host's window text, when there is one, says why there is no view.
void paintHostText(HWND host) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(host, &paint);
  RECT client{};
  GetClientRect(host, &client);
  FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  wchar_t text[512];
  const int length = GetWindowTextW(host, text, static_cast<int>(std::size(text)));
  if (length > 0) {
    const int points = 11;
    HFONT font = CreateFontW(-MulDiv(points, static_cast<int>(GetDpiForWindow(host)), 72), 0, 0,
                             0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                             OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                             DEFAULT_PITCH, L"Segoe UI");
    HGDIOBJ previous = SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(0x20, 0x20, 0x20));
    DrawTextW(dc, text, length, &client,
              DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
    SelectObject(dc, previous);
    DeleteObject(font);
  }
  EndPaint(host, &paint);
}

// Moves to the rectangle Windows suggests for the new monitor's scale; the
// resulting WM_SIZE resizes the view, which follows the scale by itself.
void onDpiChanged(HWND window, const RECT* suggested) {
  if (suggested == nullptr) return;
  SetWindowPos(window, nullptr, suggested->left, suggested->top,
               suggested->right - suggested->left, suggested->bottom - suggested->top,
               SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

void resizeWebHost(HWND main) {
  RECT client{};
  GetClientRect(main, &client);
  if (webHostWindow != nullptr) {
    MoveWindow(webHostWindow, 0, 0, client.right - client.left, client.bottom - client.top, TRUE);
  }
  if (parts != nullptr) parts->webView.setBoundsFrom(webHostWindow);
}

LRESULT CALLBACK webHostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_ERASEBKGND) return 1;  // the web view or the message covers it all
  if (message == WM_PAINT) {
    paintHostText(window);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (parts == nullptr) return DefWindowProcW(window, message, wParam, lParam);
  switch (message) {
    case WM_CREATE:
      onCreate(window);
      return 0;
    case WM_DESTROY:
      onDestroy();
      return 0;
    case WM_SIZE:
      // Resized live during a drag too: a hidden view is not drawn at all,
      // which leaves the window white until the mouse is let go.
      parts->webView.setMinimized(wParam == SIZE_MINIMIZED);
      if (wParam != SIZE_MINIMIZED) resizeWebHost(window);
      return 0;
    case WM_DPICHANGED:
      onDpiChanged(window, reinterpret_cast<const RECT*>(lParam));
      return 0;
    case WM_MOVE:
      parts->webView.parentMoved();
      return 0;
    case WM_WINDOWPOSCHANGED:
      parts->webView.parentMoved();
      break;  // DefWindowProcW turns it into WM_SIZE and WM_MOVE
    case WM_ACTIVATE:
      // Back from Alt+Tab or a click: the keyboard goes to the page, not to
      // this window, which has no use for it.
      if (LOWORD(wParam) != WA_INACTIVE && HIWORD(wParam) == 0 &&
          parts->webView.focusView()) {
        return 0;
      }
      break;
    case WM_SETFOCUS:
      parts->webView.focusView();
      return 0;
    case WM_TIMER:
      if (parts->app.onTimer(static_cast<Timer>(wParam))) return 0;
      break;
    default:
      if (HwndDispatcher::run(message, lParam)) return 0;
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

int runMainWindow(HINSTANCE instance, int showCommand, MainWindowParts windowParts,
                  const std::wstring& folder) {
  parts = &windowParts;

  WNDCLASSEXW mainClass{};
  mainClass.cbSize = sizeof mainClass;
  mainClass.style = CS_HREDRAW | CS_VREDRAW;
  mainClass.lpfnWndProc = mainWindowProc;
  mainClass.hInstance = instance;
  mainClass.hIcon = static_cast<HICON>(
      LoadImageW(instance, MAKEINTRESOURCEW(IDI_VARNHOLT_LARGE), IMAGE_ICON, 32, 32, 0));
  mainClass.hIconSm = static_cast<HICON>(
      LoadImageW(instance, MAKEINTRESOURCEW(IDI_VARNHOLT_SMALL), IMAGE_ICON, 16, 16, 0));
  mainClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  mainClass.hbrBackground = CreateSolidBrush(kWhite);
  mainClass.lpszClassName = kMainClass;
  RegisterClassExW(&mainClass);

  // Sized for the primary monitor's scale, then for the one it landed on.
  const auto scaled = [](int size, UINT dpi) { return MulDiv(size, static_cast<int>(dpi), 96); };
  const UINT systemDpi = GetDpiForSystem();
  HWND window = CreateWindowExW(0, kMainClass, L"Varnholt", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                CW_USEDEFAULT, scaled(kWidth, systemDpi),
                                scaled(kHeight, systemDpi), nullptr, nullptr, instance, nullptr);
  if (window == nullptr) {
    parts = nullptr;
    return 0;
  }
  if (const UINT dpi = GetDpiForWindow(window); dpi != systemDpi && dpi != 0) {
    SetWindowPos(window, nullptr, 0, 0, scaled(kWidth, dpi), scaled(kHeight, dpi),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  ShowWindow(window, showCommand);
  UpdateWindow(window);
  if (!folder.empty()) windowParts.app.startAnalysis(folder, false);

  MSG message{};
  int exitCode = 0;
  for (;;) {
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got == 0) {
      exitCode = static_cast<int>(message.wParam);
      break;
    }
    if (got == -1) {
      exitCode = 1;
      break;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  parts = nullptr;
  return exitCode;
}

}  // namespace varnholt_app
