#include <rapidjson/document.h>
#include <rapidjson/error/en.h>
#include <rapidjson/filereadstream.h>
#include <rapidjson/reader.h>

#include <boost/lexical_cast.hpp>
#include <boost/tokenizer.hpp>
#include <charconv>
#include <cstdlib>
#include <new>
#include <vector>

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

// Hands RapidJSON the file and ends it, as a NUL byte would, at the digit that
// takes a number's exponent past 308 in magnitude, so that such a file fails
// to parse (its root is left open) before the library sees the exponent.
// RapidJSON 1.1.0 keeps a negative exponent below 2147483640 whole and adds
// the count of fraction digits to it: the int overflows and the library reads
// its table of powers of ten far out of bounds. Leading zeros of a fraction
// count too; past about 2^31 of them the same sum overflows, so a run of more
// than kMaxLeadingZeros is shortened, which leaves the value zero as before.
// Only an 'e' or 'E' right after a number's digits, outside strings, starts
// an exponent. Tell() is the file's own offset.
template <typename Stream>
class ExponentGuardStream {
 public:
  using Ch = typename Stream::Ch;

  explicit ExponentGuardStream(Stream& stream) : stream_(stream) {}

  Ch Peek() {
    if (cut_) return '\0';
    if (state_ == State::kFraction && onlyZeros_ &&
        zeros_ >= kMaxLeadingZeros) {
      while (stream_.Peek() == '0') stream_.Take();
    }
    const Ch c = stream_.Peek();
    if (InExponent() && IsDigit(c) &&
        exponent_ * 10 + (c - '0') > kMaxExponent) {
      cut_ = true;
      return '\0';
    }
    return c;
  }

  Ch Take() {
    const Ch c = Peek();
    if (cut_) return c;
    stream_.Take();
    Follow(c);
    return c;
  }

  size_t Tell() const { return stream_.Tell(); }

  // True once the input was cut at an exponent beyond kMaxExponent; the
  // parse error then is that, at the offset where its number begins.
  bool Cut() const { return cut_; }
  size_t NumberOffset() const { return numberOffset_; }

  // Only in-situ parsing writes to the stream.
  Ch* PutBegin() {
    RAPIDJSON_ASSERT(false);
    return nullptr;
  }
  void Put(Ch) { RAPIDJSON_ASSERT(false); }
  void Flush() { RAPIDJSON_ASSERT(false); }
  size_t PutEnd(Ch*) {
    RAPIDJSON_ASSERT(false);
    return 0;
  }

 private:
  enum class State {
    kOutside,
    kString,
    kEscape,
    kInteger,
    kFraction,
    kExponentStart,  // right after the 'e', where a sign may come
    kExponent,
  };

  static constexpr int kMaxExponent = 308;
  static constexpr int kMaxLeadingZeros = 1000;

  static bool IsDigit(Ch c) { return c >= '0' && c <= '9'; }
  bool InExponent() const {
    return state_ == State::kExponentStart || state_ == State::kExponent;
  }

  // Moves the lexical state past `c`, which the parser has taken.
  void Follow(Ch c) {
    switch (state_) {
      case State::kString:
        if (c == '\\') state_ = State::kEscape;
        if (c == '"') state_ = State::kOutside;
        return;
      case State::kEscape:
        state_ = State::kString;
        return;
      case State::kInteger:
      case State::kFraction:
        if (IsDigit(c)) {
          if (c != '0') onlyZeros_ = false;
          if (state_ == State::kFraction && onlyZeros_) ++zeros_;
          return;
        }
        if (c == '.' && state_ == State::kInteger) {
          state_ = State::kFraction;
          return;
        }
        if (c == 'e' || c == 'E') {
          state_ = State::kExponentStart;
          exponent_ = 0;
          return;
        }
        break;
      case State::kExponentStart:
      case State::kExponent:
        if (IsDigit(c)) {
          exponent_ = exponent_ * 10 + (c - '0');
          state_ = State::kExponent;
          return;
        }
        if ((c == '+' || c == '-') && state_ == State::kExponentStart &&
            !signed_) {
          signed_ = true;
          return;
        }
        break;
      case State::kOutside:
        break;
    }
    // Outside any token: `c` may start one.
    state_ = State::kOutside;
    if (c == '"') {
      state_ = State::kString;
    } else if (c == '-' || IsDigit(c)) {
      state_ = State::kInteger;
      numberOffset_ = stream_.Tell() - 1;
      onlyZeros_ = c == '-' || c == '0';
      zeros_ = 0;
      signed_ = false;
    }
  }

  Stream& stream_;
  State state_ = State::kOutside;
  bool cut_ = false;
  bool onlyZeros_ = false;   // no digit of the number so far is other than 0
  bool signed_ = false;      // the exponent has its sign
  int zeros_ = 0;            // leading zeros of the fraction
  int exponent_ = 0;         // never above kMaxExponent
  size_t numberOffset_ = 0;  // where the last number began
};

// Parses the whole file. RapidJSON takes any value as the root; the agent's
// file must be an object or an array. Iterative parsing keeps deep nesting off
// the call stack and accepts the same grammar as the recursive parser.
bool ParseConf(std::FILE* file, ConfDocument& document,
               ServerConfReading* reading) {
  char buffer[4096];
  rapidjson::FileReadStream fileStream(file, buffer, sizeof buffer);
  ExponentGuardStream<rapidjson::FileReadStream> stream(fileStream);
  rapidjson::SkipWhitespace(stream);
  if (stream.Peek() != '{' && stream.Peek() != '[') {
    if (reading != nullptr) {
      reading->errorOffset = stream.Tell();
      reading->error = "The document root must be an object or an array.";
    }
    return false;
  }
  document.ParseStream<rapidjson::kParseIterativeFlag>(stream);
  if (!document.HasParseError()) return true;
  if (reading != nullptr) {
    // RapidJSON only saw the input end where the guard cut it.
    if (stream.Cut()) {
      reading->errorOffset = stream.NumberOffset();
      reading->error = "The exponent of a number exceeds 308 in magnitude.";
    } else {
      reading->errorOffset = document.GetErrorOffset();
      reading->error = rapidjson::GetParseError_En(document.GetParseError());
    }
  }
  return false;
}

// Inserts the comma-separated tokens of the member `key` of `root`, and
// lists them in `tokens`.
void AddPortsOfMember(PortSet& ports, const ConfValue& root,
                      const std::string& key,
                      std::vector<std::string>* tokens) {
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
    if (tokens != nullptr) tokens->push_back(token);
  }
}

}  // namespace

std::string JsonValueToText(const rapidjson::Value& value,
                            std::string fallback) {
  return ValueToText(value, std::move(fallback));
}

void AddServerConfPorts(PortSet& ports, std::string configDirectory,
                        ServerConfReading* reading) {
  ServerConfReading ignored;
  ServerConfReading& outcome = reading != nullptr ? *reading : ignored;
  outcome = ServerConfReading();
  if (configDirectory.empty()) return;
  std::string path = std::move(configDirectory);
  path += platform::kPathSeparator;
  path += kServerConfName;
  if (reading != nullptr) reading->path = path;

  switch (platform::QueryPathExistence(path, &outcome.systemError)) {
    case platform::PathExistence::kExists:
      break;
    case platform::PathExistence::kAbsent:
      outcome.outcome = ServerConfOutcome::kAbsent;
      return;
    case platform::PathExistence::kUnknown:
      // Not taken for absent: the ports it names would go without a word.
      outcome.outcome = ServerConfOutcome::kExistenceUnknown;
      return;
  }

  // Existing is not readable: a directory named server.conf, or a file
  // locked or denied to us.
  outcome.outcome = ServerConfOutcome::kUnreadable;
  const platform::ScopedFile file(platform::OpenFileForRead(path));
  if (!file.IsValid()) return;

  outcome.outcome = ServerConfOutcome::kUnparsable;
  ConfDocument document;
  if (!ParseConf(file.Get(), document, reading)) return;
  // An array root passes the parse but names no keys.
  outcome.outcome = ServerConfOutcome::kNotObject;
  if (!document.IsObject()) return;
  outcome.outcome = ServerConfOutcome::kUsed;
  AddPortsOfMember(ports, document, kListeningPortsKey,
                   reading != nullptr ? &reading->listeningPorts : nullptr);
  AddPortsOfMember(ports, document, kSslPortKey,
                   reading != nullptr ? &reading->sslPorts : nullptr);
}
