#include "controller/sweep/sweep.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "controller/link/link_layer.h"
#include "controller/link/vendors.h"
#include "controller/names/name_queries.h"
#include "tests/controller/asking/fake_datagram_network.h"
#include "tests/controller/names/fake_resolver.h"
#include "tests/controller/system/fake_poller.h"
#include "tests/temporary_folder.h"

namespace hostsweep::controller {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  std::stringstream stream(line);
  for (std::string field; std::getline(stream, field, ',');) {
    fields.push_back(field);
  }
  if (!line.empty() && line.back() == ',') {
    fields.emplace_back();
  }
  return fields;
}

// A host whose "workers" answer from a script, on a loop of its own: on each
// wait (as long as asked for) every started batch's worker chain runs
// `answer` and ends, unless the test holds it.
class ScriptedHost : public WorkerHost {
 public:
  using Answer = std::function<void(BatchId, const std::vector<std::string>&, SweepEvents&)>;

  explicit ScriptedHost(Answer answer)
      : poller(new FakePoller), loop(std::unique_ptr<Poller>(poller)), answer_(std::move(answer)) {
    poller->onWait = [this](std::span<PollEntry>, std::chrono::milliseconds timeout) {
      poller->now += timeout;
      Turn();
    };
  }

  [[nodiscard]] std::int32_t ReplyHandle() const override { return 525; }
  void Start(BatchId batch, const std::string& requestLine) override {
    if (refuse) {
      refuse(running_.size());
    }
    lines.push_back(requestLine);
    startedAt.push_back(Now());
    running_[batch] = requestLine;
    mostRunning = std::max(mostRunning, running_.size());
  }
  void Stop(BatchId batch) override { stopped.insert(batch); }
  void Serve(SweepEvents& events) override { events_ = &events; }
  void Turn() {
    SweepEvents& events = *events_;
    ++waits;
    if (waits == interruptAtWait) {
      interrupted = true;
      return;
    }
    for (auto it = running_.begin(); it != running_.end();) {
      const auto [batch, line] = *it;
      if (!endless.contains(batch) && (stopped.contains(batch) || !interrupted)) {
        if (!stopped.contains(batch)) {
          answer_(batch, Fields(line), events);
        }
        events.OnChainEnded(batch);
        it = running_.erase(it);
      } else {
        ++it;
      }
    }
  }
  [[nodiscard]] bool Interrupted() const override { return interrupted; }
  [[nodiscard]] std::chrono::steady_clock::time_point Now() const { return loop.Now(); }

  FakePoller* poller;
  EventLoop loop;

  std::function<void(std::size_t running)> refuse;  // may throw, as the system refuses a start
  std::vector<std::string> lines;
  std::vector<std::chrono::steady_clock::time_point> startedAt;  // by start, as `lines`
  std::set<BatchId> endless;  // chains that neither report nor ever end
  std::set<BatchId> stopped;
  std::size_t mostRunning = 0;
  int waits = 0;
  int interruptAtWait = -1;
  bool interrupted = false;

 private:
  Answer answer_;
  std::map<BatchId, std::string> running_;
  SweepEvents* events_ = nullptr;
};

bool KeepGoing(const ResultBook& /*book*/) { return true; }

// Reports every slot dead, last slot first, as successors may.
void AllDeadBackwards(BatchId batch, const std::vector<std::string>& fields, SweepEvents& events) {
  for (std::size_t label = 6; label >= 2; label -= 2) {
    if (!fields[label].empty()) {
      events.OnReport(batch, fields[label] + ",Dead");
    }
  }
}

std::vector<Address> Addresses(std::size_t count) {
  std::vector<Address> addresses;
  for (std::size_t i = 0; i < count; ++i) {
    addresses.push_back(static_cast<Address>(0x0A000001 + i));
  }
  return addresses;
}

std::vector<State> States(const ResultBook& book) {
  std::vector<State> states;
  for (const auto& result : book.Results()) {
    states.push_back(StateOf(result));
  }
  return states;
}

TEST(Sweep, EveryAddressGetsOneResultWhateverTheReportOrder) {
  const auto addresses = Addresses(10);
  ScriptedHost host(AllDeadBackwards);
  std::ostringstream diagnostics;
  Sweep sweep(addresses, {.jobs = 2, .batchSize = 3, .pause = "4"}, host.loop, host, diagnostics);
  ASSERT_TRUE(sweep.Run(KeepGoing));
  EXPECT_EQ(sweep.Book().Done(), 10U);
  EXPECT_EQ(States(sweep.Book()), std::vector<State>(10, State::kDead));
  EXPECT_THAT(host.lines,
              ElementsAre("525,10.0.0.1,h0,10.0.0.2,h1,10.0.0.3,h2,4",
                          "525,10.0.0.4,h3,10.0.0.5,h4,10.0.0.6,h5,4",
                          "525,10.0.0.7,h6,10.0.0.8,h7,10.0.0.9,h8,4", "525,10.0.0.10,h9,,,,,4"));
  EXPECT_LE(host.mostRunning, 2U);
}

struct InFlightCase {
  std::size_t addresses;
  std::size_t neighbourTable;
  std::size_t jobs;
  bool namesOnly;
  std::chrono::milliseconds rampTime;
  std::size_t mostRunning;
  bool saysLowered;
};

// Single-address batches; a table of 32 entries carries 14 probes in flight.
TEST(Sweep, ProbesInFlightStayBelowWhatTheNeighbourTableHolds) {
  using std::chrono::hours;
  using std::chrono::milliseconds;
  const std::vector<InFlightCase> cases = {
      {40, 0, 64, false, milliseconds(0), 40, false},  // no limit known: -j alone
      {40, 32, 64, false, milliseconds(0), 14, true},  // the table's cap, said with -v
      {40, 32, 64, true, milliseconds(0), 40, false},  // names only send nothing on the link
      {40, 32, 6, false, hours(1), 6, false},          // half the cap or less starts at once
      {40, 32, 64, false, hours(1), 1, true},          // more is spread over the ramp
      {10, 32, 64, false, hours(1), 10, false},        // no chain has a next address
  };
  for (const auto& c : cases) {
    const auto addresses = Addresses(c.addresses);
    ScriptedHost host([](BatchId, const std::vector<std::string>&, SweepEvents&) {});
    std::ostringstream diagnostics;
    Sweep sweep(addresses,
                {.jobs = c.jobs,
                 .namesOnly = c.namesOnly,
                 .verbose = true,
                 .neighbourTable = c.neighbourTable,
                 .rampTime = c.rampTime},
                host.loop, host, diagnostics);
    ASSERT_TRUE(sweep.Run(KeepGoing));
    EXPECT_EQ(host.mostRunning, c.mostRunning) << c.neighbourTable << " " << c.jobs;
    EXPECT_EQ(diagnostics.str().find("at most 14 worker chains") != std::string::npos,
              c.saysLowered)
        << diagnostics.str();
  }
}

// Every host answers at once and keeps its neighbour entry 10 s: no worker
// starts while the table the system reports holds the sweep's budget (all 32
// entries of a small table), and -v says why the sweep waits.
TEST(Sweep, NoWorkerStartsWhileHostsThatAnsweredFillTheNeighbourTable) {
  using std::chrono::seconds;
  const auto addresses = Addresses(60);
  std::vector<std::chrono::steady_clock::time_point> answered;
  std::function<std::chrono::steady_clock::time_point()> now;
  ScriptedHost host(
      [&](BatchId batch, const std::vector<std::string>& fields, SweepEvents& events) {
        answered.push_back(now());
        events.OnReport(batch, fields[2] + ",1,64,,");
      });
  now = [&host] { return host.Now(); };
  const auto heldAt = [&answered](std::chrono::steady_clock::time_point when) {
    return static_cast<std::size_t>(std::count_if(answered.begin(), answered.end(), [when](auto t) {
      return t <= when && when - t < seconds(10);
    }));
  };
  std::ostringstream diagnostics;
  Sweep sweep(addresses,
              {.jobs = 64,
               .neighbourTable = 32,
               .rampTime = std::chrono::milliseconds(0),
               .tableLoad = [&] { return NeighbourTableLoad{.held = heldAt(now())}; }},
              host.loop, host, diagnostics);
  ASSERT_TRUE(sweep.Run(KeepGoing));
  EXPECT_EQ(States(sweep.Book()), std::vector<State>(60, State::kAlive));
  for (const auto started : host.startedAt) {
    EXPECT_LT(heldAt(started), EntryBudget(32));
  }
  EXPECT_THAT(diagnostics.str(), HasSubstr("pacing the workers"));
}

TEST(Sweep, SlotsOfAChainThatEndedWithoutReportingThemBecomeNoReport) {
  const auto addresses = Addresses(3);
  ScriptedHost host([](BatchId batch, const std::vector<std::string>& fields, SweepEvents& events) {
    events.OnReport(batch, fields[2] + ",5,64,,");  // slot 1 live, successor failed
  });
  std::ostringstream diagnostics;
  Sweep sweep(addresses, {.jobs = 1, .batchSize = 3, .verbose = true}, host.loop, host,
              diagnostics);
  ASSERT_TRUE(sweep.Run(KeepGoing));
  EXPECT_THAT(States(sweep.Book()), ElementsAre(State::kAlive, State::kNoReport, State::kNoReport));
  EXPECT_EQ(sweep.Book().Found(), 1U);
  EXPECT_THAT(diagnostics.str(), HasSubstr("10.0.0.1 10.0.0.2 10.0.0.3"));
}

TEST(Sweep, AddressesAFailedChainLeftUnreportedRunOnceMore) {
  const auto addresses = Addresses(3);
  // Every worker reports its first slot alive, then fails to start its successor.
  ScriptedHost host([](BatchId batch, const std::vector<std::string>& fields, SweepEvents& events) {
    events.OnReport(batch, fields[2] + ",5,64,,");
    events.OnWorkerMessage(batch, "hostsweep-worker: cannot start the successor worker");
  });
  std::ostringstream diagnostics;
  Sweep sweep(addresses, {.jobs = 1, .batchSize = 3}, host.loop, host, diagnostics);
  ASSERT_TRUE(sweep.Run(KeepGoing));
  EXPECT_THAT(host.lines, ElementsAre("525,10.0.0.1,h0,10.0.0.2,h1,10.0.0.3,h2,0",
                                      "525,10.0.0.2,h1,10.0.0.3,h2,,,0"));
  EXPECT_THAT(States(sweep.Book()), ElementsAre(State::kAlive, State::kAlive, State::kNoReport));
}

TEST(Sweep, StartsRefusedForWantOfResourcesWaitForFewerChains) {
  const auto addresses = Addresses(10);
  ScriptedHost host(AllDeadBackwards);
  host.refuse = [](std::size_t running) {
    if (running >= 3) {
      throw WorkerShortage("cannot start the worker: Resource temporarily unavailable");
    }
  };
  std::ostringstream diagnostics;
  Sweep sweep(addresses, {.jobs = 8, .batchSize = 1, .verbose = true, .mostChains = 6}, host.loop,
              host, diagnostics);
  ASSERT_TRUE(sweep.Run(KeepGoing));
  EXPECT_EQ(States(sweep.Book()), std::vector<State>(10, State::kDead));
  EXPECT_EQ(host.mostRunning, 3U);
  EXPECT_THAT(diagnostics.str(), HasSubstr("at most 6 worker chains at once, not 8"));
  EXPECT_THAT(diagnostics.str(), HasSubstr("at most 3 worker chains at once, not 6"));
}

TEST(Sweep, AWorkerThatCannotRunEndsTheSweep) {
  const auto addresses = Addresses(4);
  ScriptedHost host(AllDeadBackwards);
  host.refuse = [](std::size_t running) {
    if (running >= 1) {
      throw SystemError("cannot start the worker /tmp: Permission denied");
    }
  };
  std::ostringstream diagnostics;
  Sweep sweep(addresses, {.jobs = 4, .batchSize = 1}, host.loop, host, diagnostics);
  EXPECT_THROW(sweep.Run(KeepGoing), SystemError);
  EXPECT_EQ(host.lines.size(), 1U);
}

TEST(Sweep, DuplicateAndStrayReportsAreCountedAndIgnored) {
  const auto addresses = Addresses(2);
  ScriptedHost host([](BatchId batch, const std::vector<std::string>& fields, SweepEvents& events) {
    // From a process of no chain of this sweep (another user's program, a
    // worker run by hand with the sweep's handle): never filed.
    events.OnReport(std::nullopt, fields[2] + ",1,64,forged,");
    events.OnReport(batch, fields[2] + ",Dead");
    events.OnReport(batch, fields[2] + ",1,64,late,");
    events.OnReport(batch, "PC5,Dead");
    events.OnReport(batch, "h99,Dead\x1b]0;owned\x07\xC2\x9B" + std::string(5000, 'x'));
  });
  std::ostringstream diagnostics;
  Sweep sweep(addresses, {.jobs = 4, .batchSize = 1, .verbose = true}, host.loop, host,
              diagnostics);
  ASSERT_TRUE(sweep.Run(KeepGoing));
  EXPECT_THAT(States(sweep.Book()), ElementsAre(State::kDead, State::kDead));
  EXPECT_EQ(sweep.Counts().duplicateReports, 2U);
  EXPECT_EQ(sweep.Counts().unknownReports, 6U);
  EXPECT_THAT(diagnostics.str(), HasSubstr("\"PC5,Dead\""));
  // A stray report is shown masked and cut short.
  EXPECT_THAT(diagnostics.str(), HasSubstr("\"h99,Dead?]0;owned??xxx"));
  EXPECT_LT(diagnostics.str().size(), 2000U);
}

TEST(Sweep, NameOnlyAnswersAreMatchedByTheirWorkerOneAddressEach) {
  const auto addresses = Addresses(3);
  ScriptedHost host([](BatchId batch, const std::vector<std::string>& fields, SweepEvents& events) {
    ASSERT_EQ(fields.size(), 3U);
    EXPECT_EQ(fields[1], "0");
    // Answers arrive without labels; the origin tells them apart.
    events.OnReport(batch, batch == 1 ? "" : "host-" + fields[2]);
    events.OnReport(std::nullopt, "lost");
  });
  std::ostringstream diagnostics;
  Sweep sweep(addresses, {.jobs = 8, .batchSize = 3, .namesOnly = true}, host.loop, host,
              diagnostics);
  ASSERT_TRUE(sweep.Run(KeepGoing));
  EXPECT_THAT(host.lines, ElementsAre("525,0,10.0.0.1", "525,0,10.0.0.2", "525,0,10.0.0.3"));
  EXPECT_THAT(States(sweep.Book()), ElementsAre(State::kNamed, State::kUnnamed, State::kNamed));
  EXPECT_EQ(sweep.Book().Results()[2].probe.name, "host-10.0.0.3");
  EXPECT_EQ(sweep.Counts().unknownReports, 3U);
}

TEST(Sweep, InterruptionStopsEveryRunningChainAndLeavesTheRestUnfinished) {
  const auto addresses = Addresses(9);
  ScriptedHost host(AllDeadBackwards);
  host.interruptAtWait = 2;
  std::ostringstream diagnostics;
  Sweep sweep(addresses, {.jobs = 2, .batchSize = 1}, host.loop, host, diagnostics);
  EXPECT_FALSE(sweep.Run(KeepGoing));
  EXPECT_THAT(host.stopped, ElementsAre(2, 3));
  EXPECT_EQ(host.lines.size(), 4U);
  EXPECT_THAT(States(sweep.Book()), ElementsAre(State::kDead, State::kDead, State::kPending,
                                                State::kPending, State::kPending, State::kPending,
                                                State::kPending, State::kPending, State::kPending));
}

// A process in uninterruptible sleep outlives SIGKILL; a job's end notice may
// never come. Such a chain counts as ended a while after it was stopped.
TEST(Sweep, AChainThatNeverEndsCountsAsEndedAfterItsDeadlineAndGrace) {
  const auto addresses = Addresses(3);
  ScriptedHost host(AllDeadBackwards);
  host.endless = {1};
  std::ostringstream diagnostics;
  Sweep sweep(addresses, {.jobs = 3, .batchSize = 1}, host.loop, host, diagnostics);
  ASSERT_TRUE(sweep.Run([&host](const ResultBook&) { return host.waits < 100000; }));
  EXPECT_THAT(host.stopped, ElementsAre(1));
  EXPECT_THAT(States(sweep.Book()), ElementsAre(State::kDead, State::kNoReport, State::kDead));
  EXPECT_THAT(diagnostics.str(), HasSubstr("10.0.0.2 did not end"));
}

TEST(Sweep, AnInterruptedChainThatNeverEndsDoesNotHoldTheSweep) {
  const auto addresses = Addresses(2);
  ScriptedHost host(AllDeadBackwards);
  host.endless = {0, 1};
  host.interruptAtWait = 2;
  std::ostringstream diagnostics;
  Sweep sweep(addresses, {.jobs = 2, .batchSize = 1}, host.loop, host, diagnostics);
  EXPECT_FALSE(sweep.Run([&host](const ResultBook&) { return host.waits < 100000; }));
  EXPECT_LT(host.waits, 100000);
  EXPECT_THAT(host.stopped, ElementsAre(0, 1));
  EXPECT_THAT(States(sweep.Book()), ElementsAre(State::kPending, State::kPending));
}

TEST(Sweep, AFalseAnswerFromTheCallerStopsEveryChainAndStartsNoMore) {
  const auto addresses = Addresses(6);
  ScriptedHost host(AllDeadBackwards);
  std::ostringstream diagnostics;
  Sweep sweep(addresses, {.jobs = 2, .batchSize = 1}, host.loop, host, diagnostics);
  EXPECT_FALSE(sweep.Run([](const ResultBook&) { return false; }));
  EXPECT_EQ(host.lines.size(), 2U);
}

// Slot 0 alive with Samba's all-zero unit ID, slot 1 dead but heard on the
// link, slot 2 dead and unheard; the neighbour table knows slots 0 and 1.
TEST(Sweep, EveryResultIsEnrichedOnceBeforeItIsShown) {
  const auto addresses = Addresses(3);
  ScriptedHost host([](BatchId batch, const std::vector<std::string>& fields, SweepEvents& events) {
    events.OnReport(batch,
                    fields[2] == "h0" ? "h0,1,64,pc,00-00-00-00-00-00" : fields[2] + ",Dead");
  });
  const testing::TemporaryFolder folder;
  std::ofstream(folder / "oui.csv")
      << "Registry,Assignment,Organization Name\nMA-L,002272,Maker A\n";
  int tableReads = 0;
  const auto table = [&tableReads, &addresses] {
    ++tableReads;
    return std::vector<NeighbourEntry>{
        {.address = addresses[0], .mac = *ParseMac("00-22-72-00-00-01"), .reachable = true},
        {.address = addresses[1], .mac = *ParseMac("0A-00-00-00-00-02"), .reachable = true}};
  };
  std::ostringstream diagnostics;
  LazyVendorRegistry vendors(folder.Path(), diagnostics);
  Stages stages;
  stages.Add(std::make_unique<LinkLayerStage>(table, diagnostics, false));
  Sweep sweep(addresses, {.jobs = 1, .batchSize = 1}, host.loop, host, diagnostics, &stages);
  std::size_t shownUnenriched = 0;
  ASSERT_TRUE(sweep.Run([&shownUnenriched](const ResultBook& book) {
    for (const auto& result : book.Results()) {
      shownUnenriched += StateOf(result) == State::kDead && result.address == 0x0A000002 ? 1 : 0;
    }
    return true;
  }));
  EXPECT_EQ(shownUnenriched, 0U);
  EXPECT_EQ(tableReads, 3);  // one per round that finished a probed address
  EXPECT_THAT(States(sweep.Book()), ElementsAre(State::kAlive, State::kSilent, State::kDead));
  EXPECT_EQ(sweep.Book().Found(), 2U);
  std::vector<HostView> views;
  for (const auto& result : sweep.Book().Results()) {
    views.push_back(
        ViewOf(result, [&vendors](const MacAddress& mac) { return vendors.VendorOf(mac); }));
  }
  EXPECT_EQ(views[0].mac, ParseMac("00-22-72-00-00-01"));
  EXPECT_EQ(views[0].vendor, "Maker A");
  EXPECT_EQ(views[0].netbiosMac, "00:00:00:00:00:00");
  EXPECT_EQ(views[1].vendor, kLocallyAdministered);
  EXPECT_EQ(views[2].macSource, MacSource::kNone);
  EXPECT_EQ(diagnostics.str(), "");
}

TEST(Sweep, OnlyLiveHostsWithoutANameAreAskedAndTheirRowsWaitForTheAnswers) {
  const auto addresses = Addresses(4);
  const std::map<std::string, std::string> reports{
      {"h0", "Dead"}, {"h1", "1,64,pc1,"}, {"h2", "1,64,,"}, {"h3", "1,64,,"}};
  ScriptedHost host(
      [&](BatchId batch, const std::vector<std::string>& fields, SweepEvents& events) {
        events.OnReport(batch, fields[2] + "," + reports.at(fields[2]));
      });
  FakeNetwork network;
  network.responders[{addresses[2], kMdnsPort}] =
      Always([](const Bytes& r) { return MdnsAnswer(r, "two.local"); });
  // The workers' turns go on while the questions' answers are read.
  host.poller->onWait = [&host, &network](std::span<PollEntry> entries, milliseconds timeout) {
    if (!network.MarkReady(entries)) {
      host.poller->now += timeout;
    }
    host.Turn();
  };
  NameQueries names(host.loop, network, 4);
  FakeResolver resolver("");
  Stages stages;
  stages.Add(std::make_unique<NameStage>(resolver, &names));
  std::ostringstream diagnostics;
  Sweep sweep(addresses, {.jobs = 4, .batchSize = 1}, host.loop, host, diagnostics, &stages);
  bool heldWhileAsking = false;
  ASSERT_TRUE(sweep.Run([&](const ResultBook& book) {
    heldWhileAsking |= StateOf(book.Results()[2]) == State::kAlive && !book.Ready(2);
    return true;
  }));
  EXPECT_TRUE(heldWhileAsking);
  std::vector<std::pair<std::string, NameSource>> named;
  for (std::size_t position = 0; position < addresses.size(); ++position) {
    EXPECT_TRUE(sweep.Book().Ready(position));
    const HostView view = ViewOf(sweep.Book().Results()[position], {});
    named.emplace_back(view.name, view.nameSource);
  }
  EXPECT_THAT(
      named,
      ElementsAre(std::pair{"", NameSource::kNone}, std::pair{"pc1", NameSource::kDns},
                  std::pair{"two.local", NameSource::kMdns}, std::pair{"", NameSource::kNone}));
  std::set<Address> asked;
  for (const auto& log : network.logs) {
    asked.insert(log.address);
  }
  EXPECT_THAT(asked, ElementsAre(addresses[2], addresses[3]));
}

TEST(BatchDeadline, GrowsWithTheSlotsAndCoversTheirEchoTimeouts) {
  EXPECT_LT(BatchDeadline(1, false), BatchDeadline(2, false));
  EXPECT_LT(BatchDeadline(2, false), BatchDeadline(3, false));
  EXPECT_GE(BatchDeadline(3, false), std::chrono::seconds(3 * 2));
  EXPECT_GE(BatchDeadline(1, true), std::chrono::seconds(1));
}

}  // namespace
}  // namespace hostsweep::controller
