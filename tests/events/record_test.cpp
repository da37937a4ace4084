// Which happenings of supervision become events: one a recovery while an
// outage is young, then a summary an hour; a warning an hour for repeated
// recoveries; the agent's return once; server.conf once per change.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "events/events.h"
#include "fakes/fakes.h"

namespace {

using Ids = std::vector<std::uint32_t>;

constexpr long long kMinute = 60 * 1000;

class RecordTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fakes::ResetAll();
    events::ResetRecord();
  }

  static void Advance(long long ms) { fakes::Thread().nowMs += ms; }
  static const fakes::EventLogFake& Log() { return fakes::EventLog(); }

  static events::Recovery SomeRecovery() {
    events::Recovery recovery;
    recovery.killed = {{"1200", "leftover.exe", {"4033", "4044"}},
                       {"344", "", {"8080"}}};
    recovery.skipped = {{"0", "no process"}};
    recovery.stillAlive = 1;
    recovery.startCommand = "C:\\Agent\\riduvuruz.exe -start";
    recovery.startExitCode = 9009;
    return recovery;
  }
};

TEST_F(RecordTest, ARecoveryIsOneWarningWithEverythingItDid) {
  events::RecordRecovery(SomeRecovery());

  ASSERT_EQ(Log().events.size(), 1u);
  const fakes::FakeEvent& event = Log().events[0];
  EXPECT_EQ(event.source, L"didurozir");
  EXPECT_EQ(event.id, events::kRecovery);
  EXPECT_EQ(event.type, platform::EventType::kWarning);
  EXPECT_EQ(
      event.inserts,
      (std::vector<std::string>{
          "PID 1200 (leftover.exe, ports 4033, 4044); PID 344 (not in "
          "the process list, port 8080)",
          "\"0\" (no process)", "1", "C:\\Agent\\riduvuruz.exe -start", "9009",
          "Its ports were freed, but its start command failed with exit "
          "code 9009."}));
}

TEST_F(RecordTest, NothingKilledOrSkippedReadsNone) {
  events::Recovery recovery;
  recovery.startCommand = " -start";
  events::RecordRecovery(recovery);
  ASSERT_EQ(Log().events.size(), 1u);
  EXPECT_EQ(Log().events[0].inserts,
            (std::vector<std::string>{
                "none", "none", "0", " -start", "0",
                "Its ports were freed and it was started again."}));
}

TEST_F(RecordTest, TheAgentsReturnIsToldOnceWithTheSecondsSinceItsRecovery) {
  events::RecordAgentRunning();  // no outage: nothing to tell
  events::RecordRecovery(SomeRecovery());
  Advance(11 * 1000);
  events::RecordAgentRunning();
  events::RecordAgentRunning();

  ASSERT_EQ(Log().Ids(), (Ids{events::kRecovery, events::kAgentRunningAgain}));
  EXPECT_EQ(Log().events[1].inserts, (std::vector<std::string>{"11", "1"}));
  EXPECT_EQ(Log().events[1].type, platform::EventType::kInformation);
}

// An agent that never comes back, recovered every ten seconds for two hours
// and a half: ten recovery events, then a summary at once and one an hour;
// the repeated-recoveries warning once an hour.
TEST_F(RecordTest, ALongOutageDoesNotFloodTheLog) {
  const int kRecoveries = 150 * 6;
  for (int i = 0; i < kRecoveries; ++i) {
    events::RecordRecovery(SomeRecovery());
    Advance(10 * 1000);
  }
  int recoveries = 0, summaries = 0, warnings = 0;
  for (const fakes::FakeEvent& event : Log().events) {
    recoveries += event.id == events::kRecovery;
    summaries += event.id == events::kOutageGoesOn;
    warnings += event.id == events::kRepeatedRecoveries;
  }
  EXPECT_EQ(recoveries, 10);
  EXPECT_EQ(summaries, 3);  // at the 11th, after one hour, after two
  EXPECT_EQ(warnings, 3);   // at the 3rd, after one hour, after two
  const fakes::FakeEvent* first = nullptr;
  for (const fakes::FakeEvent& event : Log().events) {
    if (event.id == events::kOutageGoesOn && first == nullptr) first = &event;
  }
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->inserts, (std::vector<std::string>{"11", "1", "10"}));

  // Back: told once; the next outage is reported one by one again.
  events::RecordAgentRunning();
  EXPECT_EQ(Log().events.back().id, events::kAgentRunningAgain);
  EXPECT_EQ(Log().events.back().inserts[1], std::to_string(kRecoveries));
  events::RecordRecovery(SomeRecovery());
  EXPECT_EQ(Log().events.back().id, events::kRecovery);
}

TEST_F(RecordTest, RecoveriesFarApartEarnNoWarning) {
  for (int i = 0; i < 5; ++i) {
    events::RecordRecovery(SomeRecovery());
    Advance(11 * 1000);
    events::RecordAgentRunning();
    Advance(31 * kMinute);
  }
  for (const fakes::FakeEvent& event : Log().events) {
    EXPECT_NE(event.id, events::kRepeatedRecoveries);
  }
}

TEST_F(RecordTest, ServerConfIsReportedOncePerChangeOfItsState) {
  using events::ConfState;
  const std::string path = "C:\\conf\\server.conf";
  const struct {
    ConfState state;
    std::string detail;
    Ids ids;  // what this reading adds
  } readings[] = {
      {ConfState::kAbsent, "", {}},
      {ConfState::kUsable, "", {}},
      {ConfState::kUnparsable, "offset 12", {events::kServerConfUnusable}},
      {ConfState::kUnparsable, "offset 12", {}},
      {ConfState::kUnparsable, "offset 40", {events::kServerConfUnusable}},
      {ConfState::kNotObject, "", {events::kServerConfUnusable}},
      {ConfState::kNotObject, "", {}},
      {ConfState::kUsable, "", {events::kServerConfUsable}},
      {ConfState::kUsable, "", {}},
      {ConfState::kUnreadable, "", {events::kServerConfUnusable}},
      {ConfState::kAbsent, "", {events::kServerConfUsable}},
  };
  std::size_t before = 0;
  for (const auto& reading : readings) {
    events::RecordServerConf(path, reading.state, reading.detail);
    const Ids all = Log().Ids();
    EXPECT_EQ(Ids(all.begin() + static_cast<long>(before), all.end()),
              reading.ids)
        << static_cast<int>(reading.state) << " " << reading.detail;
    before = all.size();
  }
}

TEST_F(RecordTest, AFailingLogCostsNothing) {
  fakes::EventLog().failWrite = true;
  EXPECT_NO_THROW(events::RecordRecovery(SomeRecovery()));
  EXPECT_NO_THROW(events::RecordAgentRunning());
  EXPECT_TRUE(Log().events.empty());
}

// The warning comes with the 3rd recovery within an hour, not the 2nd, and
// one a full hour after the 1st no longer counts it.
TEST_F(RecordTest, RepeatedRecoveriesWarnAtTheThirdWithinAnHour) {
  const struct {
    const char* what;
    std::vector<long long> gaps;      // before each recovery after the first
    std::vector<std::string> counts;  // of the warnings, in order
  } cases[] = {
      {"two", {kMinute}, {}},
      {"three within a minute", {1000, 1000}, {"3"}},
      {"three within the hour", {30 * kMinute, 30 * kMinute - 1}, {"3"}},
      {"the first an hour old", {30 * kMinute, 30 * kMinute}, {}},
      {"five: once an hour", {1000, 1000, 1000, 1000}, {"3"}},
      {"again an hour after the last, counting the hour's",
       // at 0, 1 s, 2 s, 30 min, 41:40, 50 min, 60:02
       {1000, 1000, 30 * kMinute - 2000, 700 * 1000, 500 * 1000, 602 * 1000},
       {"3", "4"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    events::RecordRecovery(SomeRecovery());
    for (long long gap : c.gaps) {
      Advance(gap);
      events::RecordRecovery(SomeRecovery());
    }
    std::vector<std::string> counts;
    for (const fakes::FakeEvent& event : Log().events) {
      if (event.id != events::kRepeatedRecoveries) continue;
      EXPECT_EQ(event.type, platform::EventType::kWarning);
      counts.push_back(event.inserts.at(0));
    }
    EXPECT_EQ(counts, c.counts);
  }
}

// The outage summary (2003) after the first: the outage's count, those since
// the first summary; and its clock starts anew with each outage.
TEST_F(RecordTest, OutageSummaryCountsAndItsClockResetWhenTheAgentRuns) {
  std::vector<std::vector<std::string>> summaries;
  auto record = [&summaries](int recoveries) {
    for (int i = 0; i < recoveries; ++i) {
      const std::size_t before = Log().events.size();
      events::RecordRecovery(SomeRecovery());
      for (std::size_t e = before; e < Log().events.size(); ++e) {
        if (Log().events[e].id == events::kOutageGoesOn) {
          summaries.push_back(Log().events[e].inserts);
        }
      }
      Advance(10 * 1000);
    }
  };
  record(371);  // the 11th at 100 s, then the 371st at 3700 s
  ASSERT_EQ(summaries.size(), 2u);
  EXPECT_EQ(summaries[0], (std::vector<std::string>{"11", "1", "10"}));
  EXPECT_EQ(summaries[1], (std::vector<std::string>{"371", "360", "10"}));

  events::RecordAgentRunning();
  summaries.clear();
  record(11);  // within the hour of the last summary, but a new outage
  ASSERT_EQ(summaries.size(), 1u);
  EXPECT_EQ(summaries[0], (std::vector<std::string>{"11", "1", "10"}));
}

// Beyond 10 recovery events in an hour the rest is summed up: at once when
// no summary was written within the hour, else at the first call an hour
// after the last, idle cycles included, and at the end of supervision.
TEST_F(RecordTest, RecoveriesBeyondTheHourlyBoundAreSummedUp) {
  auto recovery = [](const std::string& image, int exitCode, bool cut) {
    events::Recovery r;
    r.killed = {{"1200", image, {"4033"}}, {"344", "", {"4044"}}};
    r.startCommand = "C:\\Agent\\riduvuruz.exe -start";
    r.startExitCode = exitCode;
    r.cutShort = cut;
    return r;
  };
  // A crash loop: back for a cycle, gone again.
  for (int i = 0; i < 10; ++i) {
    events::RecordRecovery(recovery("a.exe", 0, false));
    Advance(11 * 1000);
    events::RecordAgentRunning();
    Advance(11 * 1000);
  }
  const std::size_t bounded = Log().events.size();
  events::RecordRecovery(recovery("a.exe", 9009, false));  // the 11th
  ASSERT_EQ(Log().events.back().id, events::kLeftOutSummary);
  EXPECT_EQ(Log().events.back().type, platform::EventType::kWarning);
  EXPECT_EQ(Log().events.back().inserts,
            (std::vector<std::string>{"11", "1",
                                      "a.exe: 1; not in the process list: 1",
                                      "exit code 9009: 1", "0", "0"}));
  EXPECT_EQ(Log().Ids().size(), bounded + 1);

  Advance(11 * 1000);
  events::RecordAgentRunning();  // the 11th return: left out
  events::RecordRecovery(recovery("b.exe", -1, false));
  events::RecordRecovery(recovery("b.exe", 0, true));
  events::RecordRecovery(recovery("a.exe", 0, false));
  events::RecordAgentRunning();
  const std::size_t held = Log().events.size();
  EXPECT_EQ(held, bounded + 1);
  // Idle cycles until the hour since the summary is over.
  for (long long t = 0; t < 60 * kMinute; t += 10 * 1000) {
    events::RecordAgentRunning();
    Advance(10 * 1000);
  }
  ASSERT_EQ(Log().events.size(), held + 1);
  EXPECT_EQ(Log().events.back().id, events::kLeftOutSummary);
  EXPECT_EQ(Log().events.back().inserts,
            (std::vector<std::string>{
                "3", "3", "a.exe: 1; b.exe: 2; not in the process list: 3",
                "exit code -1: 1", "1", "2"}));

  // A sum held back when supervision ends is written at once.
  for (int i = 0; i < 11; ++i) {
    events::RecordRecovery(recovery("c.exe", 0, false));
  }
  const std::size_t beforeFlush = Log().events.size();
  events::FlushRecord();
  events::FlushRecord();  // nothing left to write
  ASSERT_EQ(Log().events.size(), beforeFlush + 1);
  EXPECT_EQ(Log().events.back().inserts,
            (std::vector<std::string>{"11", "1",
                                      "c.exe: 1; not in the process list: 1",
                                      "none", "0", "0"}));
}

// A sum that holds nothing but returns of the agent is a sum all the same.
TEST_F(RecordTest, ASumOfReturnsAloneIsWritten) {
  for (int i = 0; i < 11; ++i) {
    events::RecordRecovery(SomeRecovery());
    Advance(11 * 1000);
    events::RecordAgentRunning();
    Advance(11 * 1000);
  }
  // The 11th recovery was summed up at once; its return is held back.
  ASSERT_EQ(Log().events.back().id, events::kLeftOutSummary);
  const std::size_t held = Log().events.size();
  events::FlushRecord();
  ASSERT_EQ(Log().events.size(), held + 1);
  EXPECT_EQ(Log().events.back().inserts,
            (std::vector<std::string>{"0", "0", "none", "none", "0", "1"}));
}

}  // namespace
