// The Windows types, records and constants the worker uses, laid out as the
// Windows headers lay them out for a build of the same pointer size.
#pragma once

#include <netinet/in.h>  // INADDR_NONE and AF_INET, macros here as on Windows
#include <sys/socket.h>

#include <cstddef>
#include <cstdint>

namespace hostsweep::os {

using BOOL = int;
using UCHAR = unsigned char;
using WORD = std::uint16_t;
using USHORT = std::uint16_t;
using DWORD = std::uint32_t;
using ULONG = std::uint32_t;
using UINT = unsigned int;
using IPAddr = ULONG;
using SIZE_T = std::size_t;
using ULONG_PTR = std::uintptr_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using LPVOID = void*;
using PVOID = void*;
using HANDLE = void*;
struct HWND__;
using HWND = HWND__*;

inline const HANDLE INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1));

struct IP_OPTION_INFORMATION {
  UCHAR Ttl;
  UCHAR Tos;
  UCHAR Flags;
  UCHAR OptionsSize;
  UCHAR* OptionsData;
};

struct ICMP_ECHO_REPLY {
  IPAddr Address;
  ULONG Status;
  ULONG RoundTripTime;
  USHORT DataSize;
  USHORT Reserved;
  PVOID Data;
  IP_OPTION_INFORMATION Options;
};

// IcmpSendEcho status codes.
inline constexpr ULONG IP_SUCCESS = 0;
inline constexpr ULONG IP_BUF_TOO_SMALL = 11001;
inline constexpr ULONG IP_DEST_NET_UNREACHABLE = 11002;
inline constexpr ULONG IP_DEST_HOST_UNREACHABLE = 11003;
inline constexpr ULONG IP_DEST_PROT_UNREACHABLE = 11004;
inline constexpr ULONG IP_DEST_PORT_UNREACHABLE = 11005;
inline constexpr ULONG IP_REQ_TIMED_OUT = 11010;
inline constexpr ULONG IP_TTL_EXPIRED_TRANSIT = 11013;
inline constexpr ULONG IP_GENERAL_FAILURE = 11050;

struct WSADATA {
  WORD wVersion;
  WORD wHighVersion;
#if UINTPTR_MAX > 0xFFFFFFFFU
  unsigned short iMaxSockets;
  unsigned short iMaxUdpDg;
  char* lpVendorInfo;
  char szDescription[257];
  char szSystemStatus[129];
#else
  char szDescription[257];
  char szSystemStatus[129];
  unsigned short iMaxSockets;
  unsigned short iMaxUdpDg;
  char* lpVendorInfo;
#endif
};

inline constexpr int WSANOTINITIALISED = 10093;
inline constexpr int SOCKET_ERROR = -1;

struct hostent {
  char* h_name;
  char** h_aliases;
  short h_addrtype;
  short h_length;
  char** h_addr_list;
};

// NetBIOS.
inline constexpr int NCBNAMSZ = 16;
inline constexpr UCHAR NCBRESET = 0x32;
inline constexpr UCHAR NCBASTAT = 0x33;
inline constexpr UCHAR NRC_GOODRET = 0x00;
inline constexpr UCHAR NRC_BUFLEN = 0x01;
inline constexpr UCHAR NRC_ILLCMD = 0x03;
inline constexpr UCHAR NRC_CMDTMO = 0x05;
inline constexpr UCHAR NRC_INCOMP = 0x06;
inline constexpr UCHAR NRC_BADDR = 0x07;
inline constexpr UCHAR NRC_NOCALL = 0x14;
inline constexpr UCHAR NRC_BRIDGE = 0x23;
inline constexpr UCHAR NRC_SYSTEM = 0x40;
inline constexpr UCHAR ASYNCH = 0x80;

// NAME_BUFFER name_flags.
inline constexpr UCHAR GROUP_NAME = 0x80;
inline constexpr UCHAR REGISTERING = 0x00;
inline constexpr UCHAR REGISTERED = 0x04;
inline constexpr UCHAR DEREGISTERED = 0x05;
inline constexpr UCHAR DUPLICATE = 0x06;

struct NCB {
  UCHAR ncb_command;
  UCHAR ncb_retcode;
  UCHAR ncb_lsn;
  UCHAR ncb_num;
  UCHAR* ncb_buffer;
  WORD ncb_length;
  UCHAR ncb_callname[NCBNAMSZ];
  UCHAR ncb_name[NCBNAMSZ];
  UCHAR ncb_rto;
  UCHAR ncb_sto;
  void (*ncb_post)(NCB*);
  UCHAR ncb_lana_num;
  UCHAR ncb_cmd_cplt;
  UCHAR ncb_reserve[sizeof(void*) == 8 ? 18 : 10];
  HANDLE ncb_event;
};
static_assert(sizeof(NCB) == (sizeof(void*) == 8 ? 96 : 64));

struct ADAPTER_STATUS {
  UCHAR adapter_address[6];
  UCHAR rev_major;
  UCHAR reserved0;
  UCHAR adapter_type;
  UCHAR rev_minor;
  WORD duration;
  WORD frmr_recv;
  WORD frmr_xmit;
  WORD iframe_recv_err;
  WORD xmit_aborts;
  DWORD xmit_success;
  DWORD recv_success;
  WORD iframe_xmit_err;
  WORD recv_buff_unavail;
  WORD t1_timeouts;
  WORD ti_timeouts;
  DWORD reserved1;
  WORD free_ncbs;
  WORD max_cfg_ncbs;
  WORD max_ncbs;
  WORD xmit_buf_unavail;
  WORD max_dgram_size;
  WORD pending_sess;
  WORD max_cfg_sess;
  WORD max_sess;
  WORD max_sess_pkt_size;
  WORD name_count;
};
static_assert(sizeof(ADAPTER_STATUS) == 60);

struct NAME_BUFFER {
  UCHAR name[NCBNAMSZ];
  UCHAR name_num;
  UCHAR name_flags;
};
static_assert(sizeof(NAME_BUFFER) == 18);

inline constexpr DWORD HEAP_GENERATE_EXCEPTIONS = 0x04;
inline constexpr DWORD HEAP_ZERO_MEMORY = 0x08;

struct COPYDATASTRUCT {
  ULONG_PTR dwData;
  DWORD cbData;
  PVOID lpData;
};
inline constexpr UINT WM_COPYDATA = 0x004A;

}  // namespace hostsweep::os
