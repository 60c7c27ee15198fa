// A watch's state file as earlier hostsweeps wrote it (JSON, rewritten whole
// after every sweep) becomes a database the first time it is opened.
#pragma once

#include <filesystem>

#include "controller/base/results.h"

namespace hostsweep::controller {

// When `path` holds a JSON state file: its hosts written to a database
// beside it, committed, and the database renamed over it, the JSON file kept
// first as PATH.json-old; a crash on the way leaves the JSON file in its
// place, to be carried over again. False when `path` holds no JSON (a
// database, or nothing yet). Throws EarlierResultsError for a JSON file that
// is not a whole state file, SystemError where the system refuses.
bool ImportJsonState(const std::filesystem::path& path, const VendorOf& vendorOf);

}  // namespace hostsweep::controller
