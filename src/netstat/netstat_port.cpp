#include <exception>
#include <string_view>

#include "netstat/netstat.h"

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

// The fields follow from the first colon, the last colon and the last space
// rather than from columns, which is what makes the IPv6 rows come out as
// they do ("[" and ":]:4033").
bool CNetstatPort::Parse(std::string line) {
  try {
    const std::string_view view(line);
    pid.assign(AfterLastSpace(view));

    const std::size_t lastColon = view.rfind(':');
    foreignPort.assign(UpToFirstSpace(view.substr(lastColon + 1)));
    foreignAddress.assign(AfterLastSpace(view.substr(0, lastColon)));

    const std::size_t firstColon = view.find(':');
    localPort.assign(UpToFirstSpace(view.substr(firstColon + 1)));
    localAddress.assign(AfterLastSpace(view.substr(0, firstColon)));

    if (view.find("TCP") != std::string_view::npos) isTcp = true;
    return true;
  } catch (const std::exception&) {
    return false;
  }
}
