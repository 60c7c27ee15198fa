// The operating-system services the worker uses, under their Windows names and
// signatures. On Windows they forward to the real API (platform/win); on other
// systems small stand-ins of our own provide the same behaviour (platform/posix);
// unit tests link a recording fake instead. Which one is used is decided at link
// time, so driver/ and net/ read the same on every target.
#pragma once

#include <string>

#ifdef _WIN32
#include "platform/win/os_types.h"
#else
#include "platform/posix/os_types.h"
#endif

namespace hostsweep::os {

// Windows Sockets 1.1 (wsock32).
ULONG inet_addr(const char* text);
int WSAStartup(WORD version, WSADATA* data);
int WSACleanup();
hostent* gethostbyaddr(const char* address, int length, int type);

// ICMP helper functions (icmp.dll).
HANDLE IcmpCreateFile();
BOOL IcmpCloseHandle(HANDLE icmp);
DWORD IcmpSendEcho(HANDLE icmp, IPAddr destination, LPVOID requestData, WORD requestSize,
                   IP_OPTION_INFORMATION* requestOptions, LPVOID replyBuffer, DWORD replySize,
                   DWORD timeout);

// NetBIOS (netapi32).
UCHAR Netbios(NCB* control);

// kernel32.
DWORD GetLastError();
HANDLE GetProcessHeap();
LPVOID HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes);
BOOL HeapFree(HANDLE heap, DWORD flags, LPVOID block);
void RtlMoveMemory(void* destination, const void* source, SIZE_T length);
int lstrlenA(const char* text);

// user32.
LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Process services.
// The command-line argument text: everything after the program path.
std::string GetArgumentText();
// One pass of the message pump, then the rest of the time slice is given up.
void YieldToSystem();
// Tells the user what went wrong (a message box with one OK button on Windows)
// and returns once the user has seen it.
void ShowFailureBox(const std::string& description);
[[noreturn]] void EndProcess(int exitStatus);
// Folder and file name (without extension) of the running program file.
std::string GetProgramFolder();
std::string GetProgramName();
// Starts the program file `name` in `folder` with `arguments` as its whole
// argument text, hidden, without waiting for it. Raises a Failure when the
// process cannot be started.
void StartHiddenProcess(const std::string& folder, const std::string& name,
                        const std::string& arguments);

}  // namespace hostsweep::os
