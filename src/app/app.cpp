#include "app/app.h"

#include <cstdio>
#include <cwchar>
#include <string>

#include "check/check.h"
#include "platform/console.h"
#include "platform/service_runtime.h"
#include "platform/system.h"
#include "platform/text.h"
#include "service/service.h"

namespace {

constexpr const wchar_t* kServiceName = L"didurozir";
constexpr const wchar_t* kDisplayName = L"QUENTAR Agent Monitor";
constexpr const wchar_t* kDescription = L"QUENTAR Agent Monitor";

// UTF-8, whatever the compiler's execution character set.
constexpr const char* kHelpText[] = {
    // "-help, -?: 해당 도움말을 보여준다.\n\n"
    "-help, -?: \xed\x95\xb4\xeb\x8b\xb9 \xeb\x8f\x84\xec\x9b\x80\xeb\xa7\x90"
    "\xec\x9d\x84 \xeb\xb3\xb4\xec\x97\xac\xec\xa4\x80\xeb\x8b\xa4.\n\n",
    // "-install: 서비스를 인스톨할 때 사용한다.\n"
    "-install: \xec\x84\x9c\xeb\xb9\x84\xec\x8a\xa4\xeb\xa5\xbc \xec\x9d\xb8"
    "\xec\x8a\xa4\xed\x86\xa8\xed\x95\xa0 \xeb\x95\x8c \xec\x82\xac\xec\x9a"
    "\xa9\xed\x95\x9c\xeb\x8b\xa4.\n",
    // "-uninstall: 서비스를 언인톨할 때 사용한다. \n"
    "-uninstall: \xec\x84\x9c\xeb\xb9\x84\xec\x8a\xa4\xeb\xa5\xbc \xec\x96"
    "\xb8\xec\x9d\xb8\xed\x86\xa8\xed\x95\xa0 \xeb\x95\x8c \xec\x82\xac\xec"
    "\x9a\xa9\xed\x95\x9c\xeb\x8b\xa4. \n",
    // "-start: 서비스를 시작 시킨다. \n"
    "-start: \xec\x84\x9c\xeb\xb9\x84\xec\x8a\xa4\xeb\xa5\xbc \xec\x8b\x9c"
    "\xec\x9e\x91 \xec\x8b\x9c\xed\x82\xa8\xeb\x8b\xa4. \n",
    // "-stop: 서비스를 중지 시킨다. \n"
    "-stop: \xec\x84\x9c\xeb\xb9\x84\xec\x8a\xa4\xeb\xa5\xbc \xec\xa4\x91"
    "\xec\xa7\x80 \xec\x8b\x9c\xed\x82\xa8\xeb\x8b\xa4. \n",
};

// The switches that select an operation, by the mode they select.
struct Switch {
  const wchar_t* name;
  std::uint32_t runMode;
};
constexpr Switch kSwitches[] = {
    {L"uninstall", kRunModeUninstall},
    {L"install", kRunModeInstall},
    {L"stop", kRunModeStop},
    {L"start", kRunModeStart},
    {L"consoleStart", kRunModeConsoleStart},
    // Only the MSI package's custom actions use these: their exit code is the
    // operation's result, which Windows Installer checks. Not in the help.
    {L"packageInstall", kRunModePackageInstall},
    {L"packageUninstall", kRunModePackageUninstall},
    {L"packageStop", kRunModePackageStop},
    {L"packageUndoInstall", kRunModePackageUndoInstall},
};

// The management operations, the word their report begins with, and whether
// the result is the exit code (the package's) or the exit code is always 0.
struct Operation {
  std::uint32_t runMode;
  std::uint32_t (*run)();
  const char* report;
  bool resultIsExitCode;
};
constexpr Operation kOperations[] = {
    {kRunModeUninstall, UninstallService, "Uninstall", false},
    {kRunModeInstall, InstallService, "Install", false},
    {kRunModeStop, StopServiceAndWait, "Stop", false},
    {kRunModeStart, StartServiceAndWait, "Start", false},
    {kRunModePackageInstall, PackageInstallService, "Install", true},
    {kRunModePackageUninstall, PackageUninstallService, "Uninstall", true},
    {kRunModePackageStop, PackageStopService, "Stop", true},
    {kRunModePackageUndoInstall, PackageUndoInstall, "Uninstall", true},
};

std::string Narrow(const wchar_t* text) {
  return platform::WideToAnsi(text, std::wcslen(text),
                              platform::CodePage::kActive);
}

wchar_t AsciiLower(wchar_t c) {
  return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

// Only ASCII letters are folded: the switch names are ASCII.
bool EqualIgnoringAsciiCase(const wchar_t* a, const wchar_t* b) {
  for (; *a != L'\0' && *b != L'\0'; ++a, ++b) {
    if (AsciiLower(*a) != AsciiLower(*b)) return false;
  }
  return *a == *b;
}

void PrintHelp() {
  for (const char* text : kHelpText) {
    platform::WriteStdout(text, platform::Encoding::kUtf8);
  }
}

void PrintInvalid(const wchar_t* argument) {
  platform::WriteStdout("Invalid Value: " + Narrow(argument) + "\n",
                        platform::Encoding::kAnsi);
}

enum class Parse { kRun, kCheck, kEnd };

// Applies the command line to ServiceSettings.runMode; kCheck for the dry
// run; kEnd, after printing why, when the run must end before any operation.
Parse ParseSwitches(int argumentCount, wchar_t** arguments) {
  const CommandLine line =
      ParseCommandLine(argumentCount, arguments, ServiceSettings.runMode);
  ServiceSettings.runMode = line.runMode;
  switch (line.verdict) {
    case CommandLineVerdict::kRun:
      return line.check ? Parse::kCheck : Parse::kRun;
    case CommandLineVerdict::kHelp:
      PrintHelp();
      return Parse::kEnd;
    case CommandLineVerdict::kInvalid:
      PrintInvalid(arguments[line.endingArgument]);
      return Parse::kEnd;
  }
  return Parse::kEnd;
}

std::uint32_t RunAndReport(const Operation& operation) {
  const std::uint32_t result = operation.run();
  const std::string name = Narrow(ServiceSettings.serviceName);
  const std::string line = std::string(operation.report) + ": [" + name + "] " +
                           (result == 0 ? "Success" : SystemErrorText(result)) +
                           "\n";
  platform::WriteStdout(line, platform::Encoding::kAnsi);
  return operation.resultIsExitCode ? result : 0;
}

std::uint32_t Dispatch() {
  if (!platform::StartServiceDispatcher(ServiceSettings.serviceName,
                                        ServiceMain)) {
    return kExitRefused;
  }
  WaitForServiceEnd();
  return 0;
}

}  // namespace

CommandLine ParseCommandLine(int argumentCount, const wchar_t* const* arguments,
                             std::uint32_t runMode) {
  CommandLine line;
  line.runMode = runMode;
  for (int i = 1; i < argumentCount; ++i) {
    const wchar_t* argument = arguments[i];
    line.endingArgument = i;
    if (argument[0] != L'-' && argument[0] != L'/') {
      line.verdict = CommandLineVerdict::kInvalid;
      return line;
    }
    const wchar_t* name = argument + 1;
    if (*name == L'\0') {
      line.verdict = CommandLineVerdict::kInvalid;
      return line;
    }
    if (EqualIgnoringAsciiCase(name, L"help") ||
        EqualIgnoringAsciiCase(name, L"?")) {
      line.verdict = CommandLineVerdict::kHelp;
      return line;
    }
    // Not a run mode: it wins over all of them, whatever their order.
    if (EqualIgnoringAsciiCase(name, L"check")) {
      line.check = true;
      continue;
    }
    const Switch* selected = nullptr;
    for (const Switch& candidate : kSwitches) {
      if (EqualIgnoringAsciiCase(name, candidate.name)) selected = &candidate;
    }
    if (selected == nullptr) {
      line.verdict = CommandLineVerdict::kInvalid;
      return line;
    }
    if (line.runMode > selected->runMode) line.runMode = selected->runMode;
  }
  line.endingArgument = 0;
  return line;
}

std::uint32_t RunEntryPoint(int argumentCount, wchar_t** arguments) {
  platform::RestrictDllSearchToSystemDirectory();
  const CServiceManager manager;
  const CServiceUtility utility;
  SetSettingText(ServiceSettings.serviceName, kServiceName);
  SetSettingText(ServiceSettings.displayName, kDisplayName);
  SetSettingText(ServiceSettings.description, kDescription);

  const Parse parse = ParseSwitches(argumentCount, arguments);
  std::fflush(stdout);
  if (parse == Parse::kEnd) return kExitRefused;
  if (parse == Parse::kCheck) {
    return check::RunCheck(ServiceSettings.serviceName);
  }

  for (const Operation& operation : kOperations) {
    if (operation.runMode == ServiceSettings.runMode) {
      const std::uint32_t exitCode = RunAndReport(operation);
      std::fflush(stdout);
      return exitCode;
    }
  }
  if (ServiceSettings.runMode == kRunModeConsoleStart &&
      platform::HasConsoleWindow()) {
    return ServiceMain(static_cast<std::uint32_t>(argumentCount), arguments);
  }
  return Dispatch();
}
