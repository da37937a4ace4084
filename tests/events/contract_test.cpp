// The record's contract with administrators' alert rules: each event's ID,
// level and inserts as docs/events.md states them, the message file agreeing
// with the program, and the documentation's table agreeing with both. A new
// event needs a row in kContract, a message and a row in the table.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "events/events.h"

namespace {

using platform::EventType;

struct Contract {
  std::uint32_t id;
  EventType level;
  std::size_t inserts;
};

const Contract kContract[] = {
    {1000, EventType::kInformation, 3}, {1001, EventType::kError, 1},
    {1002, EventType::kError, 1},       {1003, EventType::kError, 0},
    {1010, EventType::kInformation, 0}, {1011, EventType::kInformation, 0},
    {1012, EventType::kInformation, 0}, {1013, EventType::kInformation, 0},
    {2000, EventType::kWarning, 6},     {2001, EventType::kInformation, 2},
    {2002, EventType::kWarning, 1},     {2003, EventType::kWarning, 3},
    {2004, EventType::kWarning, 6},     {3000, EventType::kWarning, 2},
    {3001, EventType::kInformation, 1}, {4000, EventType::kError, 2},
    {4001, EventType::kInformation, 0},
};

std::string ReadSource(const std::string& relative) {
  std::ifstream in(std::string(DIDUROZIR_SOURCE_DIR) + "/" + relative,
                   std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// MessageId -> the highest %n of its text (the inserts it takes).
std::map<std::uint32_t, std::size_t> MessageFileInserts() {
  const std::string file = ReadSource("src/events/messages.mc");
  std::map<std::uint32_t, std::size_t> messages;
  const std::regex messageId(R"(MessageId=(\d+)\s*\n)");
  for (auto it = std::sregex_iterator(file.begin(), file.end(), messageId);
       it != std::sregex_iterator(); ++it) {
    // The text runs from "Language=" to a line holding a lone ".".
    const std::size_t start = file.find("Language=", it->position());
    const std::size_t end = file.find("\n.\n", start);
    const std::string text = file.substr(start, end - start);
    std::size_t highest = 0;
    const std::regex insert(R"(%([1-9][0-9]?))");
    for (auto i = std::sregex_iterator(text.begin(), text.end(), insert);
         i != std::sregex_iterator(); ++i) {
      highest = std::max<std::size_t>(highest, std::stoul((*i)[1]));
    }
    messages[static_cast<std::uint32_t>(std::stoul((*it)[1]))] = highest;
  }
  return messages;
}

// The "| ID | Level | Text |" table of docs/events.md: ID -> level.
std::map<std::uint32_t, std::string> DocumentedLevels() {
  const std::string doc = ReadSource("docs/events.md");
  std::map<std::uint32_t, std::string> levels;
  const std::regex row(R"(\n\| (\d{4}) \| (\w+) \|)");
  for (auto it = std::sregex_iterator(doc.begin(), doc.end(), row);
       it != std::sregex_iterator(); ++it) {
    levels[static_cast<std::uint32_t>(std::stoul((*it)[1]))] = (*it)[2];
  }
  return levels;
}

const char* LevelName(EventType type) {
  switch (type) {
    case EventType::kError:
      return "Error";
    case EventType::kWarning:
      return "Warning";
    case EventType::kInformation:
      return "Information";
  }
  return "?";
}

TEST(EventContract, EveryEventAsDocumentedInTheProgramTheMessagesAndTheDoc) {
  const auto messages = MessageFileInserts();
  const auto documented = DocumentedLevels();
  ASSERT_FALSE(messages.empty());
  ASSERT_FALSE(documented.empty());
  std::set<std::uint32_t> defined;
  for (std::size_t i = 0; i < events::kEventDefinitionCount; ++i) {
    defined.insert(events::kEventDefinitions[i].id);
  }
  for (const Contract& row : kContract) {
    SCOPED_TRACE(row.id);
    const events::EventDefinition* definition = nullptr;
    for (std::size_t i = 0; i < events::kEventDefinitionCount; ++i) {
      if (events::kEventDefinitions[i].id == row.id) {
        definition = &events::kEventDefinitions[i];
      }
    }
    ASSERT_NE(definition, nullptr) << "the program does not write it";
    EXPECT_EQ(definition->type, row.level);
    EXPECT_EQ(definition->inserts, row.inserts);
    ASSERT_EQ(messages.count(row.id), 1u) << "no message with this ID";
    EXPECT_EQ(messages.at(row.id), row.inserts) << "inserts of its message";
    ASSERT_EQ(documented.count(row.id), 1u) << "not in docs/events.md";
    EXPECT_EQ(documented.at(row.id), LevelName(row.level));
  }
  // Nothing beyond the contract: every definition, message and documented
  // event has its row.
  std::set<std::uint32_t> contracted;
  for (const Contract& row : kContract) contracted.insert(row.id);
  EXPECT_EQ(defined, contracted);
  std::set<std::uint32_t> inMessages, inDoc;
  for (const auto& m : messages) inMessages.insert(m.first);
  for (const auto& d : documented) inDoc.insert(d.first);
  EXPECT_EQ(inMessages, contracted);
  EXPECT_EQ(inDoc, contracted);
}

// The named IDs that the program writes are the numbers of the contract.
TEST(EventContract, NamedIdsAreTheDocumentedNumbers) {
  const struct {
    std::uint32_t named;
    std::uint32_t number;
  } ids[] = {
      {events::kServiceStarted, 1000},
      {events::kAgentKeyMissing, 1001},
      {events::kAgentImagePathEmpty, 1002},
      {events::kMonitorNotStarted, 1003},
      {events::kStopReceived, 1010},
      {events::kPauseReceived, 1011},
      {events::kContinueReceived, 1012},
      {events::kShutdownReceived, 1013},
      {events::kRecovery, 2000},
      {events::kAgentRunningAgain, 2001},
      {events::kRepeatedRecoveries, 2002},
      {events::kOutageGoesOn, 2003},
      {events::kLeftOutSummary, 2004},
      {events::kServerConfUnusable, 3000},
      {events::kServerConfUsable, 3001},
      {events::kAuditFindings, 4000},
      {events::kAuditCleared, 4001},
  };
  for (const auto& id : ids) EXPECT_EQ(id.named, id.number);
}

}  // namespace
