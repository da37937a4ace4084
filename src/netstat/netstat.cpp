#include "netstat/netstat.h"

#include <boost/make_shared.hpp>
#include <cstring>
#include <iterator>
#include <string_view>
#include <utility>

#include "netstat/netstat_line.h"
#include "platform/pipe.h"

namespace {

constexpr char kNetstatCommand[] = "netstat -ano";

using PortIndex = decltype(CNetstat::portIndex);

// The list under `port`, made when new. netstat prints its rows sorted by
// local address and port, so a row's port is mostly that of the row before
// (at `last`) or the next key after it; those two are tried before a search
// down the tree.
PortIndex::iterator SlotFor(PortIndex& index, PortIndex::iterator last,
                            const std::string& port) {
  if (last != index.end()) {
    if (last->first == port) return last;
    if (last->first < port) {
      const auto next = std::next(last);
      if (next == index.end() || port < next->first) {
        return index.emplace_hint(next, port, PortIndex::mapped_type());
      }
      if (next->first == port) return next;
    }
  }
  auto slot = index.lower_bound(port);
  if (slot == index.end() || slot->first != port) {
    slot = index.emplace_hint(slot, port, PortIndex::mapped_type());
  }
  return slot;
}

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
  // with a "\n" char_separator yields), each parsed where it lies in `text`:
  // listings run to 100,000 rows, and a copy of every line cost as much as
  // the rest of its parse.
  const std::string_view listing(text);
  auto slot = portIndex.end();
  std::size_t start = 0;
  while (start < listing.size()) {
    std::size_t end = listing.find('\n', start);
    if (end == std::string_view::npos) end = listing.size();
    if (end > start) {
      auto record = boost::make_shared<CNetstatPort>();
      if (netstat_internal::ParseLineInto(listing.substr(start, end - start),
                                          *record)) {
        slot = SlotFor(portIndex, slot, record->localPort);
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
