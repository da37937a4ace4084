// The audit's record: one Error event for a new or changed set of findings,
// one Information event when it clears, nothing while it stays the same; and
// when supervision runs the audit.
#include <gtest/gtest.h>

#include <boost/thread/exceptions.hpp>
#include <chrono>
#include <string>
#include <vector>

#include "audit/audit.h"
#include "events/events.h"
#include "fakes/fakes.h"
#include "monitor/monitor.h"

namespace {

using audit::Finding;
using audit::FindingKind;
using Ids = std::vector<std::uint32_t>;

const Finding kUsersWrite{FindingKind::kWritable, "C:\\Conf",
                          "BUILTIN\\Users (S-1-5-32-545)", "add file", "fix1"};
const Finding kAliceOwns{FindingKind::kUntrustedOwner, "C:\\Agent",
                         "VM\\alice (S-1-5-21-1-2-3-1001)", "", "fix2"};

class AuditRecordTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fakes::ResetAll();
    AgentLocation = AgentLocationRecord();
    audit::ResetAuditRecord();
    events::ResetRecord();
  }
  static const fakes::EventLogFake& Log() { return fakes::EventLog(); }
};

TEST_F(AuditRecordTest, OneEventPerChangeOfTheSet) {
  audit::RecordAudit({});  // nothing found, nothing to clear
  EXPECT_TRUE(Log().events.empty());

  audit::RecordAudit({kUsersWrite, kAliceOwns});
  ASSERT_EQ(Log().events.size(), 1u);
  EXPECT_EQ(Log().events[0].source, L"didurozir");
  EXPECT_EQ(Log().events[0].id, 4000u);
  EXPECT_EQ(Log().events[0].type, platform::EventType::kError);
  EXPECT_EQ(
      Log().events[0].inserts,
      (std::vector<std::string>{"2", audit::FindingText(kUsersWrite) + "\r\n" +
                                         audit::FindingText(kAliceOwns)}));

  // The same set, in another order: unchanged.
  audit::RecordAudit({kAliceOwns, kUsersWrite});
  EXPECT_EQ(Log().events.size(), 1u);

  audit::RecordAudit({kUsersWrite});  // changed
  ASSERT_EQ(Log().events.size(), 2u);
  EXPECT_EQ(Log().events[1].id, 4000u);
  EXPECT_EQ(Log().events[1].inserts,
            (std::vector<std::string>{"1", audit::FindingText(kUsersWrite)}));

  audit::RecordAudit({});  // cleared
  audit::RecordAudit({});
  ASSERT_EQ(Log().Ids(), (Ids{4000, 4000, 4001}));
  EXPECT_EQ(Log().events[2].type, platform::EventType::kInformation);
  EXPECT_TRUE(Log().events[2].inserts.empty());

  audit::RecordAudit({kUsersWrite});  // back again: new
  EXPECT_EQ(Log().Ids(), (Ids{4000, 4000, 4001, 4000}));
}

TEST_F(AuditRecordTest, TheEventsAreDefined) {
  std::size_t found = 0;
  for (std::size_t i = 0; i < events::kEventDefinitionCount; ++i) {
    const events::EventDefinition& definition = events::kEventDefinitions[i];
    if (definition.id == events::kAuditFindings) {
      EXPECT_EQ(definition.type, platform::EventType::kError);
      EXPECT_EQ(definition.inserts, 2u);
      ++found;
    }
    if (definition.id == events::kAuditCleared) {
      EXPECT_EQ(definition.type, platform::EventType::kInformation);
      EXPECT_EQ(definition.inserts, 0u);
      ++found;
    }
  }
  EXPECT_EQ(found, 2u);
}

TEST_F(AuditRecordTest, AHugeSetIsCutToFitOneInsert) {
  std::vector<Finding> findings;
  for (int i = 0; i < 400; ++i) {
    Finding finding = kUsersWrite;
    finding.object = "C:\\Conf\\" + std::to_string(i) + std::string(100, 'x');
    findings.push_back(finding);
  }
  audit::RecordAudit(findings);
  ASSERT_EQ(Log().events.size(), 1u);
  const std::string& insert = Log().events[0].inserts[1];
  EXPECT_LE(insert.size(), 31000u);
  EXPECT_NE(insert.find(" more)"), std::string::npos);
  EXPECT_EQ(Log().events[0].inserts[0], "400");
}

// Supervision runs the audit at a thread's start and before a recovery's
// commands, never in a cycle that finds the agent running.
TEST_F(AuditRecordTest, SupervisionAuditsAtStartAndBeforeEachRecovery) {
  AgentLocation.imagePathText = "C:\\Agent\\riduvuruz.exe";
  AgentLocation.configDirectoryText = "";
  fakes::Security().files["C:\\Agent"] =
      fakes::ParseSddl("O:SYD:(A;;0x1301ff;;;WD)");
  // Cycle 1 finds the agent running; cycle 2 misses it and recovers; cycle 3
  // finds it again and its closing sleep ends the thread.
  auto& processes = fakes::ProcessList();
  processes.processes = {{L"riduvuruz.exe", 100}};
  fakes::Thread().interruptAtSleep = 3;
  int sleeps = 0;
  fakes::Thread().onSleep = [&sleeps, &processes](std::chrono::milliseconds) {
    ++sleeps;
    if (sleeps == 1) {
      processes.processes.clear();
      // Fixed before the recovery: its audit records the set as cleared.
      fakes::Security().files["C:\\Agent"] =
          fakes::ParseSddl("O:SYD:(A;;FA;;;SY)");
    }
    if (sleeps == 2) processes.processes = {{L"riduvuruz.exe", 100}};
  };
  EXPECT_THROW(RunMonitor(), boost::thread_interrupted);
  EXPECT_EQ(Log().Ids(), (Ids{events::kAuditFindings, events::kAuditCleared,
                              events::kRecovery, events::kAgentRunningAgain}));
  EXPECT_EQ(sleeps, 3);
}

// A thread whose first cycle recovers audits once, before the recovery's
// commands, not a second time for its start.
TEST_F(AuditRecordTest, AFirstCycleThatRecoversAuditsOnce) {
  AgentLocation.imagePathText = "C:\\Agent\\riduvuruz.exe";
  AgentLocation.configDirectoryText = "";
  // An account the system is asked about once per audit.
  fakes::Security().files["C:\\Agent"] =
      fakes::ParseSddl("O:SYD:(A;;0x1301ff;;;S-1-5-21-1-2-3-1001)");
  fakes::ProcessList().processes.clear();
  fakes::Thread().interruptAtSleep = 1;
  EXPECT_THROW(RunMonitor(), boost::thread_interrupted);
  EXPECT_EQ(fakes::Security().membershipAsked,
            (std::vector<std::string>{"S-1-5-21-1-2-3-1001"}));
  EXPECT_EQ(Log().Ids(), (Ids{events::kAuditFindings, events::kRecovery}));
}

// Supervision hands the audit the registry's own text of the agent's path: a
// character that the ANSI code page lacks must not make the folder go
// unaudited.
TEST_F(AuditRecordTest, APathBeyondTheCodePageIsAuditedAsTheRegistryHasIt) {
  fakes::Registry()
      .keys[L"SYSTEM\\CurrentControlSet\\Services\\riduvuruz"][L"ImagePath"] =
      L"C:\\Agent\u00e5\\riduvuruz.exe";
  LoadAgentLocation();
  fakes::Security().files["C:\\Agent\xc3\xa5"] =
      fakes::ParseSddl("O:SYD:(A;;0x1301ff;;;WD)");
  fakes::ProcessList().processes.clear();
  fakes::Thread().interruptAtSleep = 1;
  EXPECT_THROW(RunMonitor(), boost::thread_interrupted);
  ASSERT_EQ(Log().events.at(0).id, events::kAuditFindings);
  EXPECT_EQ(Log().events[0].inserts.at(1).rfind("C:\\Agent\xc3\xa5: ", 0), 0u)
      << Log().events[0].inserts[1];
}

}  // namespace
