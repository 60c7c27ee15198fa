// What each platform half provides to main: its worker host, where the worker
// program is, and whether a stream is a terminal.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "controller/worker_host.h"

namespace hostsweep::controller {

class LinkSocket;  // controller/link_pass.h
class Ipv6Prober;  // controller/ipv6_neighbours.h

// Which of standard output and error were closed when hostsweep started.
struct ClosedStreams {
  bool input;
  bool output;
  bool error;
};
// Puts the null device in place of every standard stream that is closed, so
// that no descriptor the sweep opens takes its number: results or messages
// would go to it, or a write would wait on it for ever. Called first in main.
ClosedStreams HoldClosedStandardStreams();

// The worker host of one sweep, whose workers run the program at
// `workerPath`. Throws SystemError naming the problem when that program
// cannot be run; when, `sendsEchoes`, its workers would not be allowed to send
// echo requests, with the cause and the ways to fix it; or when the platform
// refuses what the sweep needs.
std::unique_ptr<WorkerHost> MakeWorkerHost(const std::string& workerPath, bool sendsEchoes);
// The worker program beside the running controller.
std::string DefaultWorkerPath();
bool IsTerminal(std::FILE* stream);
// How many columns wide the terminal standard output is; 0 when it cannot tell.
std::size_t TerminalColumns();

// How a write to standard output or standard error ended.
enum class WriteOutcome { kWritten, kInterrupted, kReaderGone, kFailed };
// Writes all of `bytes` to standard output or, with `toError`, standard error.
// A reader that has stopped taking them keeps it waiting only until the user
// interrupts (kInterrupted, the rest unwritten; the interruption stays for the
// sweep to see). `problem` is set to a failed write's cause.
WriteOutcome WriteStandard(bool toError, std::string_view bytes, std::string& problem);
// Waits `pause` between the sweeps of --watch; true, at once, when the user
// interrupts (Ctrl-C, SIGTERM) meanwhile.
bool WaitForInterruption(std::chrono::milliseconds pause);
// Puts `bytes` at `path` whole or not at all, even if the machine stops
// mid-write: written to a file beside it, flushed to disk, renamed over it.
// Throws SystemError.
void ReplaceFileWhole(const std::filesystem::path& path, std::string_view bytes);
// Where the IEEE registries of adapter makers are (as ieee-data ships them).
std::filesystem::path VendorRegistryFolder();
// How many addresses the system's neighbour (ARP) table holds at most; 0 when
// the system sets no limit the sweep has to mind.
std::size_t NeighbourTableSize();
// The packet socket the link pass sends its ARP requests on; nothing, with
// `whyNot` saying why, where the system refuses one (no CAP_NET_RAW).
std::unique_ptr<LinkSocket> OpenLinkSocket(std::string& whyNot);
// The raw ICMPv6 socket --ipv6 asks on; nothing, with `whyNot` saying why,
// where the system refuses one (no CAP_NET_RAW) or keeps to IPv4 (Windows).
std::unique_ptr<Ipv6Prober> OpenIpv6Prober(std::string& whyNot);
// Gives up every capability the controller was started with: called once its
// packet socket is open, before anything else is read or started.
void DropPrivileges();
// Root (on Windows, any user: there is no link pass there). Others may not
// send ARP requests faster than the default pace, as only root may flood
// with ping: the right to the packet socket can be given to every user.
bool MaySetAnyArpRate();
// No program the controller starts from now on gains a right from its file
// (capability or set-user-ID bit): for a --worker that is not ours.
void ForbidGainingRights();
// How many worker chains the system's limits (descriptors) let run at once,
// beside MostNameSockets(); asked once MakeWorkerHost has raised what it can.
std::size_t MostChainsAtOnce();
// How many name question sockets may be open at once: kNameSockets, fewer
// where the descriptor limit is low.
std::size_t MostNameSockets();

}  // namespace hostsweep::controller
