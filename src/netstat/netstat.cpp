#include "netstat/netstat.h"

#include <boost/make_shared.hpp>
#include <cstring>
#include <utility>

#include "platform/pipe.h"

namespace {

constexpr char kNetstatCommand[] = "netstat -ano";

}  // namespace

void CNetstat::Capture() {
  const platform::ScopedReadPipe pipe(platform::OpenReadPipe(kNetstatCommand));
  if (!pipe.IsValid()) return;
  char buffer[1024];
  while (platform::ReadPipeLine(pipe.Get(), buffer, sizeof buffer)) {
    // A NUL in the output ends what this read contributes.
    const void* nul = std::memchr(buffer, '\0', sizeof buffer);
    const std::size_t length =
        nul == nullptr
            ? sizeof buffer
            : static_cast<std::size_t>(static_cast<const char*>(nul) - buffer);
    text.append(buffer, length);
  }
}

bool CNetstat::TrimToFirstTcp() {
  const std::size_t first = text.find("TCP");
  if (first == std::string::npos) return false;
  text.erase(0, first);
  return true;
}

void CNetstat::BuildIndex() {
  // The lines are the non-empty runs between line feeds (what boost::tokenizer
  // with a "\n" char_separator yields), each copied out of `text` once and
  // moved into its parse; listings run to 100,000 rows.
  const std::size_t size = text.size();
  std::size_t start = 0;
  while (start < size) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = size;
    if (end > start) {
      auto record = boost::make_shared<CNetstatPort>();
      if (record->Parse(std::string(text, start, end - start))) {
        auto slot = portIndex.lower_bound(record->localPort);
        if (slot == portIndex.end() || slot->first != record->localPort) {
          slot = portIndex.emplace_hint(
              slot, record->localPort,
              std::vector<boost::shared_ptr<CNetstatPort>>());
        }
        slot->second.push_back(std::move(record));
      }
    }
    start = end + 1;
  }
}

PidSet CNetstat::FindPids(PortSet ports) const {
  PidSet pids;
  for (const std::string& port : ports) {
    const auto slot = portIndex.find(port);
    if (slot == portIndex.end()) continue;
    for (const auto& record : slot->second) pids.insert(record->pid);
  }
  return pids;
}
