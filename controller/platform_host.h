// What each platform half provides to main: its worker host, where the worker
// program is, and whether a stream is a terminal.
#pragma once

#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "controller/worker_host.h"

namespace hostsweep::controller {

// Throws SystemError when the platform refuses what the sweep needs.
std::unique_ptr<WorkerHost> MakeWorkerHost(const std::string& workerPath);
// The worker program beside the running controller.
std::string DefaultWorkerPath();
// Throws SystemError naming the problem when `path` cannot be run.
void CheckWorkerPath(const std::string& path);
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
// Where the IEEE registries of adapter makers are (as ieee-data ships them).
std::filesystem::path VendorRegistryFolder();
// How many addresses the system's neighbour (ARP) table holds at most; 0 when
// the system sets no limit the sweep has to mind.
std::size_t NeighbourTableSize();
// Throws SystemError, with the cause and the ways to fix it, when the workers
// started from `workerPath` would not be allowed to send echo requests.
void CheckEchoRights(const std::string& workerPath);
// How many worker chains the system's limits (descriptors) let run at once;
// asked once MakeWorkerHost has raised what it can.
std::size_t MostChainsAtOnce();

}  // namespace hostsweep::controller
