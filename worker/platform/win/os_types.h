// The Windows types, records and constants the worker uses: the system's own,
// brought into hostsweep::os. Several of the system's constants are macros,
// which cannot be named as os::NAME; those are read, undefined and declared
// again as constants of the same value.
#pragma once

// winsock.h and windows.h come before the headers that use their types.
// clang-format off
#include <winsock.h>
#include <windows.h>
#include <ipexport.h>
#include <icmpapi.h>
#include <nb30.h>
// clang-format on

#include <cstddef>

namespace hostsweep::os::system_values {

inline constexpr UCHAR kNcbReset = NCBRESET;
inline constexpr UCHAR kNcbAdapterStatus = NCBASTAT;
inline constexpr int kNcbNameSize = NCBNAMSZ;
inline constexpr UCHAR kNrcGoodReturn = NRC_GOODRET;
inline constexpr UCHAR kNrcBufferLength = NRC_BUFLEN;
inline constexpr UCHAR kNrcIllegalCommand = NRC_ILLCMD;
inline constexpr UCHAR kNrcCommandTimedOut = NRC_CMDTMO;
inline constexpr UCHAR kNrcIncomplete = NRC_INCOMP;
inline constexpr UCHAR kNrcNoCall = NRC_NOCALL;
inline constexpr UCHAR kNrcSystem = NRC_SYSTEM;
inline constexpr ULONG kIpSuccess = IP_SUCCESS;
inline constexpr ULONG kIpBufferTooSmall = IP_BUF_TOO_SMALL;
inline constexpr ULONG kIpNetUnreachable = IP_DEST_NET_UNREACHABLE;
inline constexpr ULONG kIpHostUnreachable = IP_DEST_HOST_UNREACHABLE;
inline constexpr ULONG kIpProtocolUnreachable = IP_DEST_PROT_UNREACHABLE;
inline constexpr ULONG kIpPortUnreachable = IP_DEST_PORT_UNREACHABLE;
inline constexpr ULONG kIpRequestTimedOut = IP_REQ_TIMED_OUT;
inline constexpr ULONG kIpTtlExpired = IP_TTL_EXPIRED_TRANSIT;
inline constexpr ULONG kIpGeneralFailure = IP_GENERAL_FAILURE;
inline constexpr DWORD kHeapGenerateExceptions = HEAP_GENERATE_EXCEPTIONS;
inline constexpr DWORD kHeapZeroMemory = HEAP_ZERO_MEMORY;
inline constexpr UINT kCopyData = WM_COPYDATA;
inline constexpr int kWsaNotInitialised = WSANOTINITIALISED;
inline constexpr int kSocketError = SOCKET_ERROR;
inline const HANDLE kInvalidHandle = INVALID_HANDLE_VALUE;

}  // namespace hostsweep::os::system_values

#undef NCBRESET
#undef NCBASTAT
#undef NCBNAMSZ
#undef NRC_GOODRET
#undef NRC_BUFLEN
#undef NRC_ILLCMD
#undef NRC_CMDTMO
#undef NRC_INCOMP
#undef NRC_NOCALL
#undef NRC_SYSTEM
#undef IP_SUCCESS
#undef IP_BUF_TOO_SMALL
#undef IP_DEST_NET_UNREACHABLE
#undef IP_DEST_HOST_UNREACHABLE
#undef IP_DEST_PROT_UNREACHABLE
#undef IP_DEST_PORT_UNREACHABLE
#undef IP_REQ_TIMED_OUT
#undef IP_TTL_EXPIRED_TRANSIT
#undef IP_GENERAL_FAILURE
#undef HEAP_GENERATE_EXCEPTIONS
#undef HEAP_ZERO_MEMORY
#undef WM_COPYDATA
#undef WSANOTINITIALISED
#undef SOCKET_ERROR
#undef INVALID_HANDLE_VALUE
// A macro for memmove in the system's headers; the worker calls the function.
#undef RtlMoveMemory

namespace hostsweep::os {

using ::ADAPTER_STATUS;
using ::BOOL;
using ::COPYDATASTRUCT;
using ::DWORD;
using ::HANDLE;
using ::hostent;
using ::HWND;
using ::ICMP_ECHO_REPLY;
using ::IP_OPTION_INFORMATION;
using ::IPAddr;
using ::LPARAM;
using ::LPVOID;
using ::LRESULT;
using ::NAME_BUFFER;
using ::NCB;
using ::PVOID;
using ::SIZE_T;
using ::UCHAR;
using ::UINT;
using ::ULONG;
using ::ULONG_PTR;
using ::USHORT;
using ::WORD;
using ::WPARAM;
using ::WSADATA;

// The records as the worker's readers expect them: the 32-bit layouts on 32-bit
// Windows, pointers widened on 64-bit.
inline constexpr bool kPointers64 = sizeof(void*) == 8;
static_assert(sizeof(NCB) == (kPointers64 ? 96 : 64));
static_assert(sizeof(ADAPTER_STATUS) == 60);
static_assert(sizeof(ICMP_ECHO_REPLY) == (kPointers64 ? 40 : 28));
static_assert(offsetof(ICMP_ECHO_REPLY, Status) == 4 &&
              offsetof(ICMP_ECHO_REPLY, RoundTripTime) == 8);
static_assert(offsetof(ICMP_ECHO_REPLY, Options) == (kPointers64 ? 24 : 20));

inline constexpr int NCBNAMSZ = system_values::kNcbNameSize;
inline constexpr UCHAR NCBRESET = system_values::kNcbReset;
inline constexpr UCHAR NCBASTAT = system_values::kNcbAdapterStatus;
inline constexpr UCHAR NRC_GOODRET = system_values::kNrcGoodReturn;
inline constexpr UCHAR NRC_BUFLEN = system_values::kNrcBufferLength;
inline constexpr UCHAR NRC_ILLCMD = system_values::kNrcIllegalCommand;
inline constexpr UCHAR NRC_CMDTMO = system_values::kNrcCommandTimedOut;
inline constexpr UCHAR NRC_INCOMP = system_values::kNrcIncomplete;
inline constexpr UCHAR NRC_NOCALL = system_values::kNrcNoCall;
inline constexpr UCHAR NRC_SYSTEM = system_values::kNrcSystem;

inline constexpr ULONG IP_SUCCESS = system_values::kIpSuccess;
inline constexpr ULONG IP_BUF_TOO_SMALL = system_values::kIpBufferTooSmall;
inline constexpr ULONG IP_DEST_NET_UNREACHABLE = system_values::kIpNetUnreachable;
inline constexpr ULONG IP_DEST_HOST_UNREACHABLE = system_values::kIpHostUnreachable;
inline constexpr ULONG IP_DEST_PROT_UNREACHABLE = system_values::kIpProtocolUnreachable;
inline constexpr ULONG IP_DEST_PORT_UNREACHABLE = system_values::kIpPortUnreachable;
inline constexpr ULONG IP_REQ_TIMED_OUT = system_values::kIpRequestTimedOut;
inline constexpr ULONG IP_TTL_EXPIRED_TRANSIT = system_values::kIpTtlExpired;
inline constexpr ULONG IP_GENERAL_FAILURE = system_values::kIpGeneralFailure;

inline constexpr DWORD HEAP_GENERATE_EXCEPTIONS = system_values::kHeapGenerateExceptions;
inline constexpr DWORD HEAP_ZERO_MEMORY = system_values::kHeapZeroMemory;
inline constexpr UINT WM_COPYDATA = system_values::kCopyData;
inline constexpr int WSANOTINITIALISED = system_values::kWsaNotInitialised;
inline constexpr int SOCKET_ERROR = system_values::kSocketError;
inline const HANDLE INVALID_HANDLE_VALUE = system_values::kInvalidHandle;

}  // namespace hostsweep::os
