// The window-message side of the Windows API that a host and the probes use: a message queue
// per thread, message-only windows with a window procedure, and posting from any thread.
//
// What differs from Windows: windows have no display; CreateWindowExA sends no creation
// messages; TranslateMessage has no keyboard input to translate. A thread gets its queue on its
// first call of PeekMessageA or CreateWindowExA, and loses it when it ends.
#ifndef TELVARIO_PLATFORM_POSIX_USER_H
#define TELVARIO_PLATFORM_POSIX_USER_H

#include "kernel.h"
#include "windows_types.h"

struct WindowRecord;
using HWND = WindowRecord*;
using HMENU = void*;
using WNDPROC = LRESULT (*)(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

struct POINT {
  LONG x;
  LONG y;
};

struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
  POINT pt;
};

struct WNDCLASSA {
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;
  HINSTANCE hInstance;
  void* hIcon;
  void* hCursor;
  void* hbrBackground;
  LPCSTR lpszMenuName;
  LPCSTR lpszClassName;
};

constexpr UINT PM_NOREMOVE = 0x0000;
constexpr UINT PM_REMOVE = 0x0001;
constexpr UINT WM_NULL = 0x0000;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_USER = 0x0400;
constexpr UINT WM_APP = 0x8000;
// The parent that makes a window message-only.
inline const HWND HWND_MESSAGE = reinterpret_cast<HWND>(static_cast<LONG_PTR>(-3));

BOOL PeekMessageA(MSG* message, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags);
BOOL TranslateMessage(const MSG* message);
LRESULT DispatchMessageA(const MSG* message);
BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL PostThreadMessageA(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam);

ATOM RegisterClassA(const WNDCLASSA* windowClass);
BOOL UnregisterClassA(LPCSTR className, HINSTANCE instance);
HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID param);
BOOL DestroyWindow(HWND window);
LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Message boxes. There is no desktop to show one on: the host that loaded the component
// decides how a person is asked, by installing a handler (the command-line client asks on its
// terminal). With no handler, or a handler that cannot ask, the answer is that of a box closed
// unanswered, IDCANCEL, so that nothing that needs consent goes ahead without it.
constexpr UINT MB_OK = 0x0;
constexpr UINT MB_OKCANCEL = 0x1;
constexpr UINT MB_ICONINFORMATION = 0x40;
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

// The handler gets the text, the caption (null for the system's default, "Error") and the
// style, and gives the button's identifier. Installing null removes the handler. Exported by
// the library under this name, for hosts that load it.
using MessageBoxHandler = int (*)(LPCSTR text, LPCSTR caption, UINT type);
extern "C" __attribute__((visibility("default"))) MessageBoxHandler SetMessageBoxHandler(
    MessageBoxHandler handler);

#endif
