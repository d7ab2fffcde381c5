#pragma once
// Every Win32 call of the drive layer goes through this table, so that tests can replace any of
// them with a fake and still run the real pass-through and ASPI logic.

#include <windows.h>

namespace drive {

struct Win32Calls {
  BOOL(WINAPI* GetVersionExA)(LPOSVERSIONINFOA info);
  HANDLE(WINAPI* CreateFileA)(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                              DWORD disposition, DWORD flags, HANDLE templateFile);
  BOOL(WINAPI* DeviceIoControl)(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                                DWORD outSize, LPDWORD returned, LPOVERLAPPED overlapped);
  BOOL(WINAPI* CloseHandle)(HANDLE handle);
  HMODULE(WINAPI* LoadLibraryA)(LPCSTR name);
  FARPROC(WINAPI* GetProcAddress)(HMODULE module, LPCSTR name);
  BOOL(WINAPI* FreeLibrary)(HMODULE module);
  HANDLE(WINAPI* CreateEventA)(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState,
                               LPCSTR name);
  DWORD(WINAPI* WaitForSingleObject)(HANDLE handle, DWORD milliseconds);
  BOOL(WINAPI* ResetEvent)(HANDLE event);
  DWORD(WINAPI* GetLastError)();
  DWORD(WINAPI* FormatMessageA)(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId,
                                LPSTR buffer, DWORD size, va_list* arguments);
  DWORD(WINAPI* GetLogicalDriveStringsA)(DWORD length, LPSTR buffer);
  UINT(WINAPI* GetDriveTypeA)(LPCSTR root);
  HANDLE(WINAPI* CreateMutexA)(LPSECURITY_ATTRIBUTES security, BOOL initialOwner, LPCSTR name);
  HANDLE(WINAPI* OpenMutexA)(DWORD access, BOOL inherit, LPCSTR name);
};

// The real functions.
Win32Calls RealWin32Calls();
// The table in use (initially the real functions); tests assign entries.
Win32Calls& Win32();

} // namespace drive
