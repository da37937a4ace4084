#include <exception>
#include <string_view>

#include "netstat/netstat_line.h"

namespace {

// A search that finds nothing gives npos, and npos + 1 wraps to 0, so a field
// "after the last space" of a text without one is the whole text, and "up to
// the first space" of a text without one is all of it as well.
std::string_view UpToFirstSpace(std::string_view text) {
  return text.substr(0, text.find(' '));
}

std::string_view AfterLastSpace(std::string_view text) {
  return text.substr(text.rfind(' ') + 1);
}

}  // namespace

namespace netstat_internal {

// The fields follow from the first colon, the last colon and the last space
// rather than from columns, which is what makes the IPv6 rows come out as
// they do ("[" and ":]:4033"). Works on a view so that BuildIndex can parse
// each line where it lies in the listing.
bool ParseLineInto(std::string_view line, CNetstatPort& record) {
  try {
    record.pid.assign(AfterLastSpace(line));

    const std::size_t lastColon = line.rfind(':');
    record.foreignPort.assign(UpToFirstSpace(line.substr(lastColon + 1)));
    record.foreignAddress.assign(AfterLastSpace(line.substr(0, lastColon)));

    const std::size_t firstColon = line.find(':');
    record.localPort.assign(UpToFirstSpace(line.substr(firstColon + 1)));
    record.localAddress.assign(AfterLastSpace(line.substr(0, firstColon)));

    if (line.find("TCP") != std::string_view::npos) record.isTcp = true;
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace netstat_internal

bool CNetstatPort::Parse(std::string line) {
  return netstat_internal::ParseLineInto(line, *this);
}
