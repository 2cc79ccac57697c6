// The Win32 vocabulary that the portable code is written in, for the POSIX
// build: integer types, handles, result codes, message and key numbers, the
// registry roots and the serial-line constants, with the values Win32 gives
// them. The Windows build takes all of these from <windows.h> instead.
#pragma once

#include <cstdint>

typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t UINT;
typedef int BOOL;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
typedef void* HANDLE;
typedef struct HWND__* HWND;
typedef struct HINSTANCE__* HINSTANCE;
typedef struct HFONT__* HFONT;
typedef struct HKEY__* HKEY;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

struct POINT {
  LONG x;
  LONG y;
};
struct SIZE {
  LONG cx;
  LONG cy;
};
struct RECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
};

#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define INFINITE 0xFFFFFFFFu
#define MAXDWORD 0xFFFFFFFFu

// Result codes.
#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_INVALID_DATA 13L
#define ERROR_WRITE_FAULT 29L
#define ERROR_READ_FAULT 30L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L

// Registry.
#define HKEY_CLASSES_ROOT ((HKEY)(uintptr_t)0x80000000u)
#define HKEY_CURRENT_USER ((HKEY)(uintptr_t)0x80000001u)
#define HKEY_LOCAL_MACHINE ((HKEY)(uintptr_t)0x80000002u)
#define HKEY_USERS ((HKEY)(uintptr_t)0x80000003u)
#define REG_NONE 0u
#define REG_SZ 1u
#define REG_EXPAND_SZ 2u
#define REG_BINARY 3u
#define REG_DWORD 4u
#define REG_MULTI_SZ 7u
#define REG_QWORD 11u

// Message beeps.
#define MB_OK 0x00u
#define MB_ICONHAND 0x10u
#define MB_ICONQUESTION 0x20u
#define MB_ICONEXCLAMATION 0x30u
#define MB_ICONASTERISK 0x40u

// Window messages.
#define WM_NULL 0x0000u
#define WM_CREATE 0x0001u
#define WM_DESTROY 0x0002u
#define WM_SIZE 0x0005u
#define WM_SETFOCUS 0x0007u
#define WM_KILLFOCUS 0x0008u
#define WM_PAINT 0x000Fu
#define WM_CLOSE 0x0010u
#define WM_DEVICECHANGE 0x0219u
#define DBT_DEVICEREMOVECOMPLETE 0x8004u
#define WM_QUIT 0x0012u
#define WM_KEYDOWN 0x0100u
#define WM_KEYUP 0x0101u
#define WM_CHAR 0x0102u
#define WM_SYSKEYDOWN 0x0104u
#define WM_SYSKEYUP 0x0105u
#define WM_SYSCHAR 0x0106u
#define WM_TIMER 0x0113u
#define WM_LBUTTONDBLCLK 0x0203u
#define WM_HOTKEY 0x0312u

// WM_SIZE kinds.
#define SIZE_RESTORED 0u
#define SIZE_MINIMIZED 1u

// Virtual keys.
#define VK_BACK 0x08
#define VK_TAB 0x09
#define VK_RETURN 0x0D
#define VK_SHIFT 0x10
#define VK_CONTROL 0x11
#define VK_MENU 0x12
#define VK_ESCAPE 0x1B
#define VK_SPACE 0x20
#define VK_PRIOR 0x21
#define VK_NEXT 0x22
#define VK_END 0x23
#define VK_HOME 0x24
#define VK_LEFT 0x25
#define VK_UP 0x26
#define VK_RIGHT 0x27
#define VK_DOWN 0x28
#define VK_INSERT 0x2D
#define VK_DELETE 0x2E
#define VK_F1 0x70
#define VK_F6 0x75
#define VK_F11 0x7A
#define VK_F12 0x7B

// Serial line: modem status bits, escape functions, purge flags.
#define MS_CTS_ON 0x0010u
#define MS_DSR_ON 0x0020u
#define MS_RING_ON 0x0040u
#define MS_RLSD_ON 0x0080u
#define SETRTS 3
#define CLRRTS 4
#define SETDTR 5
#define CLRDTR 6
#define PURGE_TXABORT 0x0001u
#define PURGE_RXABORT 0x0002u
#define PURGE_TXCLEAR 0x0004u
#define PURGE_RXCLEAR 0x0008u

// ---- Windows, painting and messages (the terminal window and its children) ----
typedef struct HMENU__* HMENU;
typedef struct HDC__* HDC;
typedef void* HGDIOBJ;
typedef struct HBRUSH__* HBRUSH;
typedef int16_t SHORT;
typedef uint32_t COLORREF;
typedef LRESULT (*WNDPROC)(HWND, UINT, WPARAM, LPARAM);

#define RGB(r, g, b) ((COLORREF)(((BYTE)(r)) | ((WORD)((BYTE)(g)) << 8) | (((DWORD)(BYTE)(b)) << 16)))
#define LOWORD(l) ((WORD)(((uintptr_t)(l)) & 0xFFFF))
#define HIWORD(l) ((WORD)((((uintptr_t)(l)) >> 16) & 0xFFFF))
#define MAKELPARAM(l, h) ((LPARAM)(DWORD)(((WORD)(l)) | (((DWORD)(WORD)(h)) << 16)))

struct PAINTSTRUCT {
  HDC hdc;
  BOOL fErase;
  RECT rcPaint;
};
struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
  POINT pt;
};
struct CREATESTRUCTA {
  void* lpCreateParams;
  HINSTANCE hInstance;
  HMENU hMenu;
  HWND hwndParent;
  int cy;
  int cx;
  int y;
  int x;
  LONG style;
  const char* lpszName;
  const char* lpszClass;
  DWORD dwExStyle;
};

#define WM_SETTEXT 0x000Cu
#define WM_GETTEXT 0x000Du
#define WM_ERASEBKGND 0x0014u
#define WM_SHOWWINDOW 0x0018u
#define WM_SETFONT 0x0030u
#define WM_GETFONT 0x0031u
#define WM_LBUTTONDOWN 0x0201u
#define WM_LBUTTONUP 0x0202u
#define WM_USER 0x0400u

// Window and class styles.
#define WS_OVERLAPPED 0x00000000u
#define WS_CHILD 0x40000000u
#define WS_VISIBLE 0x10000000u
#define WS_CAPTION 0x00C00000u
#define WS_SYSMENU 0x00080000u
#define WS_VSCROLL 0x00200000u
#define WS_BORDER 0x00800000u
#define CS_VREDRAW 0x0001u
#define CS_HREDRAW 0x0002u
#define CS_DBLCLKS 0x0008u
#define CS_GLOBALCLASS 0x4000u
#define SW_HIDE 0
#define SW_SHOW 5
#define GW_CHILD 5
#define GWLP_USERDATA (-21)
#define GWL_USERDATA (-21)

// Stock objects, text output, fonts.
#define WHITE_BRUSH 0
#define LTGRAY_BRUSH 1
#define GRAY_BRUSH 2
#define DKGRAY_BRUSH 3
#define BLACK_BRUSH 4
#define ETO_OPAQUE 0x0002u
#define ETO_CLIPPED 0x0004u
#define FIXED_PITCH 1
#define COLOR_WINDOW 5
#define COLOR_WINDOWTEXT 8
#define COLOR_HIGHLIGHT 13
#define COLOR_HIGHLIGHTTEXT 14

// Message loop and waits.
#define PM_NOREMOVE 0x0000u
#define PM_REMOVE 0x0001u
#define QS_ALLINPUT 0x04FFu
#define MWMO_INPUTAVAILABLE 0x0004u
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu
#define SPI_GETWORKAREA 0x0030u

// List box styles and messages.
#define LBS_NOTIFY 0x0001u
#define LBS_SORT 0x0002u
#define LBS_HASSTRINGS 0x0040u
#define LBS_NOINTEGRALHEIGHT 0x0100u
#define LBS_WANTKEYBOARDINPUT 0x0400u
#define LB_ADDSTRING 0x0180u
#define LB_RESETCONTENT 0x0184u
#define LB_SETCURSEL 0x0186u
#define LB_GETCURSEL 0x0188u
#define LB_GETTEXT 0x0189u
#define LB_GETTEXTLEN 0x018Au
#define LB_GETCOUNT 0x018Bu
#define LB_GETTOPINDEX 0x018Eu
#define LB_SETTOPINDEX 0x0197u
#define LB_ERR (-1)
#define LB_ERRSPACE (-2)

// Serial line settings (DCB fields).
#define RTS_CONTROL_DISABLE 0x00
#define RTS_CONTROL_ENABLE 0x01
#define RTS_CONTROL_HANDSHAKE 0x02
#define DTR_CONTROL_DISABLE 0x00
#define DTR_CONTROL_ENABLE 0x01
#define DTR_CONTROL_HANDSHAKE 0x02
#define NOPARITY 0
#define ONESTOPBIT 0
#define TWOSTOPBITS 2

// Further result codes (the settings store).
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_DISK_FULL 112L
#define ERROR_BAD_PATHNAME 161L

// Calling conventions of window procedures: nothing to say on POSIX.
#ifndef CALLBACK
#define CALLBACK
#define WINAPI
#endif
