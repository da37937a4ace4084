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
  EXPECT_EQ(event.inserts,
            (std::vector<std::string>{
                "PID 1200 (leftover.exe, ports 4033, 4044); PID 344 (not in "
                "the process list, port 8080)",
                "\"0\" (no process)", "1", "C:\\Agent\\riduvuruz.exe -start",
                "9009",
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

}  // namespace
