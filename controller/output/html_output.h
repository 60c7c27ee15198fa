// Results as one self-contained HTML page: a grid of the swept addresses, one
// cell per address coloured by its state, and the hosts' table below it,
// sortable by any column. It loads nothing: no style sheet, script, font or
// image from anywhere, and its content security policy forbids fetching any.
#pragma once

#include <memory>
#include <ostream>

#include "controller/output/result_stream.h"
#include "controller/output/sweep_run.h"

namespace hostsweep::controller {

// Writes the page on Finish, once the grid is whole; every address shown or
// skipped (--alive) has its cell, only the shown ones a row.
std::unique_ptr<ResultWriter> MakeHtmlWriter(std::ostream& out, SweepRun run);

}  // namespace hostsweep::controller
