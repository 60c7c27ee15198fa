// Registry figures: entries in each of ieee-data's registry files, and how
// long reading them all takes (what the first maker lookup of a sweep costs).
//   registry_load [FOLDER]   default /usr/share/ieee-data
#include <algorithm>
#include <chrono>
#include <fstream>
#include <iostream>
#include <vector>

#include "controller/link/vendors.h"

int main(int argc, char** argv) {
  using hostsweep::controller::LoadRegistries;
  using hostsweep::controller::VendorRegistry;
  const std::filesystem::path folder = argc > 1 ? argv[1] : "/usr/share/ieee-data";
  for (const char* name : {"oui.csv", "mam.csv", "oui36.csv", "iab.csv"}) {
    std::ifstream file(folder / name);
    VendorRegistry one;
    one.AddCsv(file);
    std::cout << name << " " << one.Size() << " entries, "
              << (std::filesystem::exists(folder / name) ? std::filesystem::file_size(folder / name)
                                                         : 0)
              << " bytes\n";
  }
  constexpr int kRuns = 7;
  std::vector<double> milliseconds;
  std::size_t total = 0;
  for (int run = 0; run < kRuns; ++run) {
    const auto start = std::chrono::steady_clock::now();
    VendorRegistry registry;
    LoadRegistries(folder, registry, std::cerr);
    milliseconds.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
    total = registry.Size();
  }
  std::sort(milliseconds.begin(), milliseconds.end());
  std::cout << "all registries: " << total << " entries, load " << milliseconds[kRuns / 2]
            << " ms (median of " << kRuns << "), fastest " << milliseconds.front() << " ms\n";
}
