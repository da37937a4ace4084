#ifndef DIDUROZIR_NETSTAT_NETSTAT_LINE_H_
#define DIDUROZIR_NETSTAT_NETSTAT_LINE_H_

// Shared by the files of this folder only; callers use netstat.h.

#include <string_view>

#include "netstat/netstat.h"

namespace netstat_internal {

// CNetstatPort::Parse on a view of the line, so that BuildIndex can parse
// each line where it lies in the listing.
bool ParseLineInto(std::string_view line, CNetstatPort& record);

}  // namespace netstat_internal

#endif  // DIDUROZIR_NETSTAT_NETSTAT_LINE_H_
