// The link's conflicts as a watch tells them: each once when a sweep first
// hears it and once when a sweep no longer does, however many sweeps it
// lasts, so that a conflict that stays is not a warning every sweep.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "controller/base/link_conflict.h"

namespace hostsweep::controller {

struct ConflictChanges {
  std::vector<LinkConflict> started;
  std::vector<LinkConflict> ended;  // as last heard
};

class ConflictBook {
 public:
  // `open`: the conflicts a watch before this one left open (--state), so
  // that a restart tells none of them again.
  explicit ConflictBook(const std::vector<LinkConflict>& open = {});
  // What one sweep heard, against what the sweeps before it and the link
  // between them did. An address answering from the same two MACs is the
  // same conflict whichever answered first; a MAC shared by more or fewer
  // addresses is the same too.
  ConflictChanges Round(const std::vector<LinkConflict>& heard);
  // One heard between sweeps: started when not open, and open until a sweep
  // no longer hears it.
  ConflictChanges Heard(const LinkConflict& conflict);
  [[nodiscard]] std::vector<LinkConflict> Open() const;

 private:
  std::map<std::string, LinkConflict> open_;
};

// The warning a conflict is said with on standard error.
std::string ConflictWarning(const LinkConflict& conflict);
// The line that says it is over.
std::string ConflictEndedLine(const LinkConflict& conflict);

}  // namespace hostsweep::controller
