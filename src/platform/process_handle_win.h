// What IsProcessCritical makes of the system's answer, with the functions
// that give it handed in: Wine has neither, so only its tests, handing in
// answers as Windows gives them, can show an answer read the wrong way round.
#ifndef DIDUROZIR_PLATFORM_PROCESS_HANDLE_WIN_H_
#define DIDUROZIR_PLATFORM_PROCESS_HANDLE_WIN_H_

#include <windows.h>

#include "platform/process_handle.h"

namespace platform {

using IsProcessCriticalFunction = BOOL(WINAPI*)(HANDLE, PBOOL);
using NtQueryInformationProcessFunction = LONG(WINAPI*)(HANDLE, ULONG, PVOID,
                                                        ULONG, PULONG);

// Asks `isProcessCritical` (kernel32, Windows 8.1 and later) or, where that
// is null, the ProcessBreakOnTermination flag of `ntQueryInformationProcess`
// (ntdll); kUnknown when neither answers.
ProcessAnswer ProcessCriticality(
    ProcessHandle* process, IsProcessCriticalFunction isProcessCritical,
    NtQueryInformationProcessFunction ntQueryInformationProcess);

}  // namespace platform

#endif  // DIDUROZIR_PLATFORM_PROCESS_HANDLE_WIN_H_
