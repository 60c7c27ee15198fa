#include "driver/run_worker.h"

int main() {
  hostsweep::RunWorker();
  return 0;
}
