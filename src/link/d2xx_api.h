// The few calls and values of FTDI's D2XX library that the program uses, as
// FTDI's D2XX Programmer's Guide publishes them. The library (ftd2xx.dll) comes
// with FTDI's driver and is loaded at run time; nothing of it is linked.
#pragma once

#ifdef _WIN32

#include <windows.h>

namespace kj::d2xx {

using FT_HANDLE = void*;
using FT_STATUS = ULONG;

// FT_STATUS values 0..6 are the ones FtStatus mirrors.
inline constexpr FT_STATUS FT_OK = 0;

inline constexpr DWORD FT_EVENT_RXCHAR = 1;
inline constexpr ULONG FT_PURGE_RX = 1;
inline constexpr ULONG FT_PURGE_TX = 2;
inline constexpr USHORT FT_FLOW_NONE = 0x0000;

// Each entry point's type, by the name the library exports.
using FT_CreateDeviceInfoList = FT_STATUS WINAPI(LPDWORD numDevs);
using FT_Open = FT_STATUS WINAPI(int deviceNumber, FT_HANDLE* handle);
using FT_Close = FT_STATUS WINAPI(FT_HANDLE handle);
using FT_ResetDevice = FT_STATUS WINAPI(FT_HANDLE handle);
using FT_Purge = FT_STATUS WINAPI(FT_HANDLE handle, ULONG mask);
using FT_SetBaudRate = FT_STATUS WINAPI(FT_HANDLE handle, ULONG baudRate);
using FT_SetDataCharacteristics = FT_STATUS WINAPI(FT_HANDLE handle, UCHAR wordLength, UCHAR stopBits, UCHAR parity);
using FT_SetFlowControl = FT_STATUS WINAPI(FT_HANDLE handle, USHORT flowControl, UCHAR xon, UCHAR xoff);
using FT_SetLatencyTimer = FT_STATUS WINAPI(FT_HANDLE handle, UCHAR timer);
using FT_SetTimeouts = FT_STATUS WINAPI(FT_HANDLE handle, ULONG readTimeout, ULONG writeTimeout);
using FT_Read = FT_STATUS WINAPI(FT_HANDLE handle, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesReturned);
using FT_Write = FT_STATUS WINAPI(FT_HANDLE handle, LPVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten);
using FT_GetStatus = FT_STATUS WINAPI(FT_HANDLE handle, DWORD* rxBytes, DWORD* txBytes, DWORD* eventDWord);
using FT_GetQueueStatus = FT_STATUS WINAPI(FT_HANDLE handle, DWORD* rxBytes);
using FT_GetDriverVersion = FT_STATUS WINAPI(FT_HANDLE handle, LPDWORD version);
using FT_SetEventNotification = FT_STATUS WINAPI(FT_HANDLE handle, DWORD mask, PVOID param);
using FT_GetComPortNumber = FT_STATUS WINAPI(FT_HANDLE handle, LPLONG comPortNumber);

}  // namespace kj::d2xx

#endif
