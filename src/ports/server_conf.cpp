#include <rapidjson/document.h>
#include <rapidjson/filereadstream.h>
#include <rapidjson/reader.h>

#include <boost/filesystem/operations.hpp>
#include <boost/filesystem/path.hpp>
#include <boost/lexical_cast.hpp>
#include <boost/tokenizer.hpp>
#include <charconv>
#include <cstdlib>
#include <new>

#include "platform/file.h"
#include "ports/ports.h"

namespace {

// RapidJSON's CrtAllocator returns null when memory runs out, and the parser
// writes through that pointer. This one throws instead, so that exhaustion
// reaches the caller as std::bad_alloc rather than as a crash.
class ThrowingAllocator {
 public:
  [[maybe_unused]] static const bool kNeedFree = true;

  void* Malloc(size_t size) {
    if (size == 0) return nullptr;
    void* memory = std::malloc(size);
    if (memory == nullptr) throw std::bad_alloc();
    return memory;
  }
  void* Realloc(void* original, size_t /*originalSize*/, size_t newSize) {
    if (newSize == 0) {
      std::free(original);
      return nullptr;
    }
    void* memory = std::realloc(original, newSize);
    if (memory == nullptr) throw std::bad_alloc();
    return memory;
  }
  static void Free(void* memory) { std::free(memory); }
};

using ConfDocument = rapidjson::GenericDocument<
    rapidjson::UTF8<>, rapidjson::MemoryPoolAllocator<ThrowingAllocator>,
    ThrowingAllocator>;
using ConfValue = ConfDocument::ValueType;

// "%.17g" without the C locale: std::to_chars never uses a locale's decimal
// point, and it writes inf, nan and their signs as printf does.
std::string DoubleToText(double number, std::string fallback) {
  char buffer[64];
  const std::to_chars_result result = std::to_chars(
      buffer, buffer + sizeof buffer, number, std::chars_format::general, 17);
  if (result.ec != std::errc()) return fallback;
  return std::string(buffer, result.ptr);
}

template <typename Value>
std::string ValueToText(const Value& value, std::string fallback) {
  // A string ends at its first NUL, also one that came from "\u0000".
  if (value.IsString()) return std::string(value.GetString());
  if (value.IsTrue()) return "true";
  if (value.IsFalse()) return "false";
  try {
    if (value.IsUint64()) {
      return boost::lexical_cast<std::string>(value.GetUint64());
    }
    if (value.IsInt64()) {
      return boost::lexical_cast<std::string>(value.GetInt64());
    }
  } catch (const boost::bad_lexical_cast&) {
    return fallback;
  }
  if (value.IsDouble()) {
    return DoubleToText(value.GetDouble(), std::move(fallback));
  }
  return fallback;
}

// Parses the whole file. RapidJSON takes any value as the root; the agent's
// file must be an object or an array. Iterative parsing keeps deep nesting off
// the call stack and accepts the same grammar as the recursive parser.
bool ParseConf(std::FILE* file, ConfDocument& document) {
  char buffer[4096];
  rapidjson::FileReadStream stream(file, buffer, sizeof buffer);
  rapidjson::SkipWhitespace(stream);
  if (stream.Peek() != '{' && stream.Peek() != '[') return false;
  document.ParseStream<rapidjson::kParseIterativeFlag>(stream);
  return !document.HasParseError();
}

// Inserts the comma-separated tokens of the member `key` of `root`.
void AddPortsOfMember(PortSet& ports, const ConfValue& root,
                      const std::string& key) {
  const ConfValue null;
  const ConfValue name(rapidjson::StringRef(
      key.data(), static_cast<rapidjson::SizeType>(key.size())));
  const auto member = root.FindMember(name);
  const std::string text = ValueToText(
      member == root.MemberEnd() ? null : member->value, std::string());
  if (text.empty()) return;
  const boost::char_separator<char> separator(",", "",
                                              boost::drop_empty_tokens);
  for (const std::string& token :
       boost::tokenizer<boost::char_separator<char>>(text, separator)) {
    ports.insert(token);
  }
}

}  // namespace

std::string JsonValueToText(const rapidjson::Value& value,
                            std::string fallback) {
  return ValueToText(value, std::move(fallback));
}

void AddServerConfPorts(PortSet& ports, std::string configDirectory) {
  if (configDirectory.empty()) return;
  std::string path = std::move(configDirectory);
  path += platform::kPathSeparator;
  path += kServerConfName;

  try {
    if (!boost::filesystem::exists(boost::filesystem::path(path))) return;
  } catch (const boost::filesystem::filesystem_error&) {
    return;
  }

  // Existing is not readable: a directory named server.conf, or a file
  // locked or denied to us.
  const platform::ScopedFile file(platform::OpenFileForRead(path));
  if (!file.IsValid()) return;

  ConfDocument document;
  if (!ParseConf(file.Get(), document)) return;
  // An array root passes the parse but names no keys.
  if (!document.IsObject()) return;
  AddPortsOfMember(ports, document, kListeningPortsKey);
  AddPortsOfMember(ports, document, kSslPortKey);
}
