// Paths as Windows reads them: the programs a command line may run, and the
// folders that lie above a path.
#include <utility>

#include "audit/trust.h"

namespace audit {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Windows adds ".exe" to a program name whose last part has no extension.
std::string WithExeExtension(std::string name) {
  const std::size_t lastPart = name.find_last_of("\\/");
  const std::size_t dot =
      name.find('.', lastPart == std::string::npos ? 0 : lastPart + 1);
  if (dot == std::string::npos) name += ".exe";
  return name;
}

// "\\server\share": the root of a UNC path.
bool IsUncRoot(const std::string& path) {
  if (path.size() < 3 || !IsSeparator(path[0]) || !IsSeparator(path[1])) {
    return false;
  }
  const std::size_t server_end = path.find_first_of("\\/", 2);
  return server_end != std::string::npos &&
         path.find_first_of("\\/", server_end + 1) == std::string::npos;
}

}  // namespace

bool IsQuoted(const std::string& commandLine) {
  const std::size_t start = commandLine.find_first_not_of(" \t");
  return start != std::string::npos && commandLine[start] == '"';
}

std::vector<Candidate> ExecutableCandidates(const std::string& commandLine) {
  std::vector<Candidate> candidates;
  const std::size_t start = commandLine.find_first_not_of(" \t");
  if (start == std::string::npos) return candidates;
  if (commandLine[start] == '"') {
    const std::size_t close = commandLine.find('"', start + 1);
    const std::size_t end =
        close == std::string::npos ? commandLine.size() : close;
    candidates.push_back(
        {WithExeExtension(commandLine.substr(start + 1, end - start - 1)),
         close == std::string::npos ? end : end + 1});
    return candidates;
  }
  std::size_t last_end = start;
  for (std::size_t i = start + 1; i < commandLine.size(); ++i) {
    if (IsBlank(commandLine[i]) && !IsBlank(commandLine[i - 1])) {
      candidates.push_back(
          {WithExeExtension(commandLine.substr(start, i - start)), i});
      last_end = i;
    }
  }
  std::size_t end = commandLine.size();
  while (end > start && IsBlank(commandLine[end - 1])) --end;
  if (end > last_end || candidates.empty()) {
    candidates.push_back(
        {WithExeExtension(commandLine.substr(start, end - start)), end});
  }
  return candidates;
}

std::string QuotedArgument(const std::string& text) {
  // Backslashes are plain text unless a quote follows them; then each one
  // needs its double, and the quote a backslash of its own.
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (const char c : text) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    quoted += c;
    backslashes = 0;
  }
  quoted.append(2 * backslashes, '\\');
  return quoted + "\"";
}

std::vector<std::string> FoldersAbove(const std::string& path) {
  std::vector<std::string> folders;
  std::string current = path;
  for (;;) {
    std::size_t cut = current.find_last_of("\\/");
    if (cut == std::string::npos) break;
    // "C:\Agent\\x.exe" names the same file as "C:\Agent\x.exe"; the two
    // leading separators of a UNC path stay.
    while (cut > 1 && IsSeparator(current[cut - 1])) --cut;
    if (cut == 0) {  // "\folder": the current drive's root
      folders.push_back(current.substr(0, 1));
      break;
    }
    std::string parent = current.substr(0, cut);
    if (parent.size() == 2 && parent[1] == ':') {  // "C:" -> "C:\"
      folders.push_back(parent + current[cut]);
      break;
    }
    if (IsSeparator(parent.back())) break;  // "\\server" of a UNC path
    folders.push_back(parent);
    if (IsUncRoot(parent)) break;
    current = std::move(parent);
  }
  return folders;
}

bool IsVolumeRoot(const std::string& folder) {
  return (!folder.empty() && IsSeparator(folder.back())) || IsUncRoot(folder);
}

}  // namespace audit
