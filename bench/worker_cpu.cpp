// CPU time of whole worker processes: starts the worker once per address, one
// after the other, each with a batch of that address alone, and reads the
// process's user and system time from wait4 (from its start, exec included,
// to its end).
//
//   worker_cpu WORKER ADDRESS...
//
// Prints one line per run: "<address> <cpu microseconds> <peak rss KiB>".
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <string>

extern char** environ;  // NOLINT(readability-redundant-declaration): POSIX leaves it undeclared

namespace {

long Microseconds(const timeval& time) { return time.tv_sec * 1'000'000L + time.tv_usec; }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: worker_cpu WORKER ADDRESS...\n");
    return 2;
  }
  for (int i = 2; i < argc; ++i) {
    // Reply window 1: nobody listens there, so the report goes nowhere.
    std::string line = std::string("1,") + argv[i] + ",A,,,,,0";
    char* arguments[] = {argv[1], line.data(), nullptr};
    pid_t worker = 0;
    const int error = posix_spawn(&worker, argv[1], nullptr, nullptr, arguments, environ);
    if (error != 0) {
      std::fprintf(stderr, "worker_cpu: cannot start %s: %s\n", argv[1], std::strerror(error));
      return 1;
    }
    int status = 0;
    rusage usage{};
    if (wait4(worker, &status, 0, &usage) != worker) {
      std::perror("worker_cpu: wait4");
      return 1;
    }
    std::printf("%s %ld %ld\n", argv[i],
                Microseconds(usage.ru_utime) + Microseconds(usage.ru_stime), usage.ru_maxrss);
  }
  return 0;
}
