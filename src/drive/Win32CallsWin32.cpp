#include "drive/Win32Calls.h"

namespace drive {

Win32Calls RealWin32Calls() {
  Win32Calls calls;
  calls.GetVersionExA = ::GetVersionExA;
  calls.CreateFileA = ::CreateFileA;
  calls.DeviceIoControl = ::DeviceIoControl;
  calls.CloseHandle = ::CloseHandle;
  calls.LoadLibraryA = ::LoadLibraryA;
  calls.GetProcAddress = ::GetProcAddress;
  calls.FreeLibrary = ::FreeLibrary;
  calls.CreateEventA = ::CreateEventA;
  calls.WaitForSingleObject = ::WaitForSingleObject;
  calls.ResetEvent = ::ResetEvent;
  calls.GetLastError = ::GetLastError;
  calls.FormatMessageA = ::FormatMessageA;
  calls.GetLogicalDriveStringsA = ::GetLogicalDriveStringsA;
  calls.GetDriveTypeA = ::GetDriveTypeA;
  calls.CreateMutexA = ::CreateMutexA;
  calls.OpenMutexA = ::OpenMutexA;
  return calls;
}

Win32Calls& Win32() {
  static Win32Calls calls = RealWin32Calls();
  return calls;
}

} // namespace drive
