// --history's devices as a table (a block per device), CSV or JSON lines,
// with what the user's inventory (--known) says of each. The CSV is an
// inventory (--known) itself: its six columns first, what the database knows
// after them.
#pragma once

#include <string>

#include "controller/base/time_text.h"
#include "controller/inventory/inventory.h"
#include "controller/model/json_fields.h"
#include "controller/output/result_writer.h"
#include "controller/state/history_query.h"

namespace hostsweep::controller {

// Empty for a format without one.
std::string HistoryHeader(Format format);
// `tableZone`: where the table's times are told (local on a terminal); CSV
// and JSON always tell UTC.
std::string HistoryEntry(const DeviceHistory& device, Format format, const Inventory* inventory,
                         TimeZone tableZone = TimeZone::kUtc);

// A device's sessions and past values as its JSON entry has them (the
// dashboard's API too): [{"began", "ended"}] and [{"value", "first_seen",
// "last_seen"}].
Json SessionsJson(const std::vector<Session>& sessions);
Json PastValuesJson(const std::vector<PastValue>& values);

}  // namespace hostsweep::controller
