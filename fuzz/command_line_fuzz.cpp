// The switches of the command line: NUL bytes separate the arguments, every
// other byte is one UTF-16 unit, except 0x01, which takes the next two bytes
// as one unit (surrogates, letters beyond Latin-1). ParseCommandLine is
// checked against a model written from the rules, not from the code: one run
// mode, the smallest wins, a help or invalid argument ends the run.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/app.h"
#include "service/service.h"

namespace {

void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "command_line_fuzz: %s\n", what);
  std::abort();
}

std::vector<std::wstring> SplitArguments(const std::uint8_t* data,
                                         std::size_t size) {
  std::vector<std::wstring> arguments(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      arguments.emplace_back();
    } else if (data[i] == 1 && i + 2 < size) {
      // A command line holds no NUL inside an argument.
      const wchar_t unit =
          static_cast<wchar_t>(data[i + 1] | (data[i + 2] << 8));
      if (unit != L'\0') arguments.back() += unit;
      i += 2;
    } else {
      arguments.back() += static_cast<wchar_t>(data[i]);
    }
  }
  return arguments;
}

std::wstring AsciiLowered(std::wstring text) {
  for (wchar_t& c : text) {
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c + (L'a' - L'A'));
  }
  return text;
}

enum class Kind { kSwitch, kHelp, kInvalid };

Kind Classify(const std::wstring& argument, std::uint32_t* mode) {
  if (argument.size() < 2 || (argument[0] != L'-' && argument[0] != L'/')) {
    return Kind::kInvalid;
  }
  const std::wstring name = AsciiLowered(argument.substr(1));
  if (name == L"help" || name == L"?") return Kind::kHelp;
  const struct {
    const wchar_t* name;
    std::uint32_t mode;
  } kModes[] = {{L"uninstall", kRunModeUninstall},
                {L"install", kRunModeInstall},
                {L"consolestart", kRunModeConsoleStart},
                {L"stop", kRunModeStop},
                {L"start", kRunModeStart}};
  for (const auto& known : kModes) {
    if (name == known.name) {
      *mode = known.mode;
      return Kind::kSwitch;
    }
  }
  return Kind::kInvalid;
}

bool IsRunMode(std::uint32_t mode) {
  return mode == kRunModeUninstall || mode == kRunModeInstall ||
         mode == kRunModeConsoleStart || mode == kRunModeStop ||
         mode == kRunModeStart || mode == kRunModeNone;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  // The program's name is argument 0 and never read; the rest is the input.
  std::vector<std::wstring> texts;
  if (size > 0) texts = SplitArguments(data, size);
  texts.insert(texts.begin(), L"didurozir.exe");
  std::vector<const wchar_t*> arguments;
  for (const std::wstring& text : texts) arguments.push_back(text.c_str());
  arguments.push_back(nullptr);
  const int count = static_cast<int>(texts.size());

  const CommandLine line =
      ParseCommandLine(count, arguments.data(), kRunModeNone);

  std::uint32_t expectedMode = kRunModeNone;
  CommandLineVerdict expected = CommandLineVerdict::kRun;
  int ending = 0;
  for (int i = 1; i < count; ++i) {
    std::uint32_t mode = kRunModeNone;
    const Kind kind = Classify(texts[static_cast<std::size_t>(i)], &mode);
    if (kind == Kind::kSwitch) {
      if (mode < expectedMode) expectedMode = mode;
      continue;
    }
    expected = kind == Kind::kHelp ? CommandLineVerdict::kHelp
                                   : CommandLineVerdict::kInvalid;
    ending = i;
    break;
  }
  Require(IsRunMode(line.runMode), "not a run mode");
  Require(line.verdict == expected, "verdict");
  Require(line.endingArgument == ending, "ending argument");
  Require(line.runMode == expectedMode, "the smallest switch did not win");
  // Whatever the start value, the parse can only lower it.
  const CommandLine fromInstall =
      ParseCommandLine(count, arguments.data(), kRunModeInstall);
  Require(fromInstall.runMode <= kRunModeInstall, "raised the run mode");
  Require(fromInstall.verdict == line.verdict, "verdict depends on the mode");
  return 0;
}
