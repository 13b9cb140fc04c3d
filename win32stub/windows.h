// Native stand-in for the parts of <windows.h> that KVORemote uses.
//
// The product is a 32-bit Windows DLL; this header lets the same sources build
// and run on Linux for fast tests, sanitizers and fuzzing.  Types keep the
// widths they have in the 32-bit product where the code depends on them
// (DWORD, LONG, the raw input records); handles are opaque pointers.
#pragma once

#include <cstddef>
#include <cstdint>

#define WINAPI
#define CALLBACK
#define APIENTRY

typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned short WORD;
typedef unsigned short USHORT;
typedef uint32_t DWORD;
typedef uint32_t UINT;
typedef uint32_t ULONG;
typedef int32_t LONG;
typedef char CHAR;
typedef char16_t WCHAR;
typedef WCHAR OLECHAR;
typedef OLECHAR* BSTR;
typedef CHAR* LPSTR;
typedef const CHAR* LPCSTR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef const OLECHAR* LPCOLESTR;
typedef BOOL* LPBOOL;
typedef void* LPVOID;
typedef void* PVOID;
typedef const void* LPCVOID;
typedef DWORD* LPDWORD;
typedef UINT* PUINT;
typedef uintptr_t WPARAM;
typedef uintptr_t UINT_PTR;
typedef uintptr_t SIZE_T;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
typedef intptr_t LONG_PTR;
typedef DWORD LCID;
typedef DWORD LCTYPE;
typedef WORD ATOM;

typedef void* HANDLE;
#define KVO_STUB_HANDLE(name) \
    struct name##__;          \
    typedef name##__* name
KVO_STUB_HANDLE(HWND);
KVO_STUB_HANDLE(HINSTANCE);
KVO_STUB_HANDLE(HICON);
KVO_STUB_HANDLE(HCURSOR);
KVO_STUB_HANDLE(HBRUSH);
KVO_STUB_HANDLE(HMENU);
KVO_STUB_HANDLE(HRAWINPUT);
#undef KVO_STUB_HANDLE
typedef HINSTANCE HMODULE;

#define TRUE 1
#define FALSE 0
#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_ABANDONED 0x00000080u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu

#define ERROR_SUCCESS 0u
#define ERROR_INVALID_HANDLE 6u
#define ERROR_NOT_ENOUGH_MEMORY 8u
#define ERROR_INVALID_PARAMETER 87u
#define ERROR_INSUFFICIENT_BUFFER 122u
#define ERROR_NOT_ENOUGH_QUOTA 1816u
#define ERROR_INVALID_THREAD_ID 1444u
#define ERROR_ACCESS_DENIED 5u
#define ERROR_CLASS_DOES_NOT_EXIST 1411u
#define ERROR_INVALID_WINDOW_HANDLE 1400u
#define ERROR_ALREADY_EXISTS 183u
#define ERROR_NOT_OWNER 288u
#define ERROR_CLASS_ALREADY_EXISTS 1410u
#define ERROR_CLASS_HAS_WINDOWS 1412u
#define ERROR_RESOURCE_NAME_NOT_FOUND 1814u
#define ERROR_MOD_NOT_FOUND 126u

#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1
#define DLL_THREAD_ATTACH 2
#define DLL_THREAD_DETACH 3

// ---- kernel: versions, locale, code pages -------------------------------

#define VER_PLATFORM_WIN32s 0
#define VER_PLATFORM_WIN32_WINDOWS 1
#define VER_PLATFORM_WIN32_NT 2

typedef struct _OSVERSIONINFOA {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    CHAR szCSDVersion[128];
} OSVERSIONINFOA, *LPOSVERSIONINFOA;

#define CP_ACP 0
#define CP_OEMCP 1
#define CP_THREAD_ACP 3
#define CP_UTF8 65001
#define LOCALE_IDEFAULTANSICODEPAGE 0x00001004

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info);
LCID WINAPI GetThreadLocale(void);
int WINAPI GetLocaleInfoA(LCID locale, LCTYPE type, LPSTR data, int size);
UINT WINAPI GetACP(void);
int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int textLength, LPWSTR wide,
                               int wideLength);
int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideLength, LPSTR text,
                               int textLength, LPCSTR defaultChar, LPBOOL usedDefaultChar);
int WINAPI lstrlenW(LPCWSTR text);

LONG WINAPI InterlockedExchange(LONG volatile* target, LONG value);
LONG WINAPI InterlockedCompareExchange(LONG volatile* target, LONG value, LONG comparand);
PVOID WINAPI InterlockedExchangePointer(PVOID volatile* target, PVOID value);

DWORD WINAPI GetLastError(void);
void WINAPI SetLastError(DWORD error);
void WINAPI OutputDebugStringA(LPCSTR text);

// ---- kernel: heap ------------------------------------------------------

#define HEAP_ZERO_MEMORY 0x00000008u

HANDLE WINAPI GetProcessHeap(void);
LPVOID WINAPI HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes);
BOOL WINAPI HeapFree(HANDLE heap, DWORD flags, LPVOID memory);

// ---- kernel: modules, threads, events, waits ---------------------------

typedef DWORD(WINAPI* LPTHREAD_START_ROUTINE)(LPVOID parameter);
typedef struct _SECURITY_ATTRIBUTES SECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

#define SYNCHRONIZE 0x00100000u
#define THREAD_QUERY_LIMITED_INFORMATION 0x0800u

#define GET_MODULE_HANDLE_EX_FLAG_PIN 0x1u
#define GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT 0x2u
#define GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS 0x4u

BOOL WINAPI DisableThreadLibraryCalls(HMODULE module);
BOOL WINAPI GetModuleHandleExA(DWORD flags, LPCSTR moduleName, HMODULE* module);
BOOL WINAPI FreeLibrary(HMODULE module);
// Ends the calling thread on Windows; the stand-in only drops the reference
// and returns, and the caller's thread procedure returns right after.
void WINAPI FreeLibraryAndExitThread(HMODULE module, DWORD exitCode);
HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stackSize,
                           LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD flags,
                           LPDWORD threadId);
HANDLE WINAPI OpenThread(DWORD access, BOOL inherit, DWORD threadId);
DWORD WINAPI GetCurrentThreadId(void);
HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState,
                           LPCSTR name);
BOOL WINAPI SetEvent(HANDLE event);
BOOL WINAPI ResetEvent(HANDLE event);
HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES security, BOOL initialOwner, LPCSTR name);
BOOL WINAPI ReleaseMutex(HANDLE mutex);
DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds);
DWORD WINAPI WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll,
                                    DWORD milliseconds);
BOOL WINAPI CloseHandle(HANDLE handle);
void WINAPI Sleep(DWORD milliseconds);
DWORD WINAPI GetTickCount(void);

typedef struct _CRITICAL_SECTION {
    void* lock;
} CRITICAL_SECTION, *LPCRITICAL_SECTION;
void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION section);
void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION section);
void WINAPI EnterCriticalSection(LPCRITICAL_SECTION section);
void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION section);

// ---- user: messages and windows ----------------------------------------

#define WM_NULL 0x0000
#define WM_CREATE 0x0001
#define WM_DESTROY 0x0002
#define WM_CLOSE 0x0010
#define WM_NCCREATE 0x0081
#define WM_NCDESTROY 0x0082
#define WM_QUIT 0x0012
#define WM_INPUT 0x00FF
#define WM_USER 0x0400
#define WM_APP 0x8000

#define PM_NOREMOVE 0x0000
#define PM_REMOVE 0x0001
#define QS_KEY 0x0001
#define QS_MOUSEMOVE 0x0002
#define QS_MOUSEBUTTON 0x0004
#define QS_MOUSE (QS_MOUSEMOVE | QS_MOUSEBUTTON)
#define QS_POSTMESSAGE 0x0008
#define QS_TIMER 0x0010
#define QS_PAINT 0x0020
#define QS_SENDMESSAGE 0x0040
#define QS_HOTKEY 0x0080
#define QS_RAWINPUT 0x0400
// Windows 8 and later only; older Windows refuse a wake mask that names them.
#define QS_TOUCH 0x0800
#define QS_POINTER 0x1000
// As the headers give it for Windows XP to 7 (_WIN32_WINNT below 0x0602).
#define QS_ALLINPUT 0x04FF
#define PM_QS_SENDMESSAGE (QS_SENDMESSAGE << 16)
#define GWLP_USERDATA (-21)

#define CS_VREDRAW 0x0001
#define CS_HREDRAW 0x0002
#define WS_OVERLAPPEDWINDOW 0x00CF0000u
#define CW_USEDEFAULT ((int)0x80000000)
#define SW_HIDE 0
#define COLOR_WINDOW 5
#define IDC_ARROW ((LPCSTR)(uintptr_t)32512)

typedef LRESULT(CALLBACK* WNDPROC)(HWND, UINT, WPARAM, LPARAM);

typedef struct tagPOINT {
    LONG x;
    LONG y;
} POINT;

typedef struct tagMSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
} MSG, *LPMSG;

typedef struct tagWNDCLASSEXA {
    UINT cbSize;
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    HICON hIcon;
    HCURSOR hCursor;
    HBRUSH hbrBackground;
    LPCSTR lpszMenuName;
    LPCSTR lpszClassName;
    HICON hIconSm;
} WNDCLASSEXA;

typedef struct tagCREATESTRUCTA {
    LPVOID lpCreateParams;
    HINSTANCE hInstance;
    HMENU hMenu;
    HWND hwndParent;
    int cy;
    int cx;
    int y;
    int x;
    LONG style;
    LPCSTR lpszName;
    LPCSTR lpszClass;
    DWORD dwExStyle;
} CREATESTRUCTA;

BOOL WINAPI PeekMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax, UINT remove);
BOOL WINAPI GetMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax);
BOOL WINAPI PostThreadMessageA(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT WINAPI DispatchMessageA(const MSG* msg);
LRESULT WINAPI SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
DWORD WINAPI MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll,
                                       DWORD milliseconds, DWORD wakeMask);

ATOM WINAPI RegisterClassExA(const WNDCLASSEXA* windowClass);
BOOL WINAPI UnregisterClassA(LPCSTR className, HINSTANCE instance);
LONG_PTR WINAPI SetWindowLongPtrA(HWND window, int index, LONG_PTR value);
LONG_PTR WINAPI GetWindowLongPtrA(HWND window, int index);
HCURSOR WINAPI LoadCursorA(HINSTANCE instance, LPCSTR name);
HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR title, DWORD style, int x,
                            int y, int width, int height, HWND parent, HMENU menu,
                            HINSTANCE instance, LPVOID param);
BOOL WINAPI ShowWindow(HWND window, int command);
BOOL WINAPI DestroyWindow(HWND window);
LRESULT WINAPI DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// ---- user: raw input ----------------------------------------------------

#define RIM_INPUT 0
#define RIM_INPUTSINK 1
#define RIM_TYPEMOUSE 0
#define RIM_TYPEKEYBOARD 1
#define RIM_TYPEHID 2
#define RID_INPUT 0x10000003u
#define RID_HEADER 0x10000005u
#define RIDEV_REMOVE 0x00000001u
#define RIDEV_INPUTSINK 0x00000100u

// Raw input records are laid out as in the 32-bit product, so that a record
// captured or written for one build means the same in the other: the header
// is 16 bytes, its device handle and wParam 32-bit values.
typedef struct tagRAWINPUTHEADER {
    DWORD dwType;
    DWORD dwSize;
    uint32_t hDevice;
    uint32_t wParam;
} RAWINPUTHEADER;

typedef struct tagRAWMOUSE {
    USHORT usFlags;
    USHORT usButtonFlags;
    USHORT usButtonData;
    ULONG ulRawButtons;
    LONG lLastX;
    LONG lLastY;
    ULONG ulExtraInformation;
} RAWMOUSE;

typedef struct tagRAWKEYBOARD {
    USHORT MakeCode;
    USHORT Flags;
    USHORT Reserved;
    USHORT VKey;
    UINT Message;
    ULONG ExtraInformation;
} RAWKEYBOARD;

typedef struct tagRAWHID {
    DWORD dwSizeHid;
    DWORD dwCount;
    BYTE bRawData[1];
} RAWHID;

typedef struct tagRAWINPUT {
    RAWINPUTHEADER header;
    union {
        RAWMOUSE mouse;
        RAWKEYBOARD keyboard;
        RAWHID hid;
    } data;
} RAWINPUT;

typedef struct tagRAWINPUTDEVICE {
    USHORT usUsagePage;
    USHORT usUsage;
    DWORD dwFlags;
    HWND hwndTarget;
} RAWINPUTDEVICE;
typedef const RAWINPUTDEVICE* PCRAWINPUTDEVICE;

UINT WINAPI GetRawInputData(HRAWINPUT rawInput, UINT command, LPVOID data, PUINT size,
                            UINT headerSize);
BOOL WINAPI RegisterRawInputDevices(PCRAWINPUTDEVICE devices, UINT count, UINT size);

#include <oleauto.h>
