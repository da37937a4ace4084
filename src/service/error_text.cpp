#include <cstring>
#include <string>
#include <vector>

#include "platform/system.h"
#include "platform/text.h"
#include "service/service.h"

char errorText[kErrorTextCapacity];

namespace {

bool SplitsSurrogatePair(const std::wstring& text, std::size_t position) {
  return position > 0 && position < text.size() &&
         text[position - 1] >= 0xD800 && text[position - 1] <= 0xDBFF &&
         text[position] >= 0xDC00 && text[position] <= 0xDFFF;
}

// The conversion of the longest start of `text`, cut between characters, that
// fits `room` bytes. The wide text is cut, not the narrow one, so that no
// multi-byte character is split. A longer start never converts shorter, so
// the cut is searched for.
std::string ConvertFitting(const std::wstring& text, std::size_t room) {
  std::string whole = platform::WideToAnsi(text, platform::CodePage::kActive);
  if (whole.size() <= room) return whole;
  std::vector<std::size_t> cuts;  // lengths that end on a character boundary
  for (std::size_t length = 0; length < text.size(); ++length) {
    if (!SplitsSurrogatePair(text, length)) cuts.push_back(length);
  }
  std::size_t fits = 0;               // index into cuts; cuts[0] = 0 fits
  std::size_t tooLong = cuts.size();  // the whole text does not
  std::string best;
  while (tooLong - fits > 1) {
    const std::size_t middle = fits + (tooLong - fits) / 2;
    std::string converted = platform::WideToAnsi(text.data(), cuts[middle],
                                                 platform::CodePage::kActive);
    if (converted.size() <= room) {
      fits = middle;
      best = std::move(converted);
    } else {
      tooLong = middle;
    }
  }
  return best;
}

}  // namespace

const char* SystemErrorText(std::uint32_t code) {
  std::wstring text;
  {
    const platform::ScopedSystemMessage message(
        platform::FormatSystemMessage(code));
    if (message.IsValid()) text = message.Get();
  }
  std::string narrow = ConvertFitting(text, kErrorTextCapacity - 1);
  if (narrow.empty()) {
    // Wine, for one, has no text for some codes; the number still helps.
    narrow = "Error " + std::to_string(code) +
             " (the system has no description for it).\r\n";
  }
  std::memcpy(errorText, narrow.data(), narrow.size());
  errorText[narrow.size()] = '\0';
  return errorText;
}
