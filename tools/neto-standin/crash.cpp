#include "crash.h"

#include <cstring>
#include <optional>

namespace standin {
namespace {

using CreateFileAFunction = decltype(&::CreateFileA);

// The hook is called in the service's place and knows nothing else: what it
// needs lives here, set once before the hook is put in.
struct ArmedCrash {
    CreateFileAFunction original = nullptr;
    std::optional<CallLog> log;
};

ArmedCrash& Armed() {
    static ArmedCrash armed;
    return armed;
}

bool IsReceivedFile(LPCSTR path) {
    constexpr char kName[] = "\\X.DAT";
    const std::size_t length = path ? std::strlen(path) : 0;
    return length >= sizeof kName - 1 && _stricmp(path + length - (sizeof kName - 1), kName) == 0;
}

HANDLE WINAPI CreateFileAOrCrash(LPCSTR path, DWORD access, DWORD share,
                                 LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                                 HANDLE templateFile) {
    if (share == 0 && IsReceivedFile(path)) {
        CrashNow(*Armed().log, "conversion");
    }
    return Armed().original(path, access, share, security, disposition, flags, templateFile);
}

// Points every import slot of the program's module that holds `function` at
// `replacement`; how many there were.
int RedirectImport(FARPROC function, FARPROC replacement) {
    auto* const base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (directory.VirtualAddress == 0) {
        return 0;
    }
    int redirected = 0;
    for (auto* module = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(
             base + directory.VirtualAddress);
         module->Name != 0; ++module) {
        for (auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->FirstThunk);
             slot->u1.Function != 0; ++slot) {
            if (slot->u1.Function != reinterpret_cast<ULONG_PTR>(function)) {
                continue;
            }
            DWORD protection = 0;
            if (VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, PAGE_READWRITE,
                               &protection)) {
                slot->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
                VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, protection,
                               &protection);
                ++redirected;
            }
        }
    }
    return redirected;
}

}  // namespace

void CrashNow(const CallLog& log, const std::string& step) {
    log.Write("crash at " + step);
    TerminateProcess(GetCurrentProcess(), kCrashExitCode);
    // Not reached; the compiler does not know that TerminateProcess of this
    // process never returns.
    ExitProcess(kCrashExitCode);
}

bool CrashAtConversion(const CallLog& log) {
    ArmedCrash& armed = Armed();
    if (armed.original) {
        return true;  // armed for an earlier delivery, and so for this one
    }
    const FARPROC original = GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "CreateFileA");
    armed.original = reinterpret_cast<CreateFileAFunction>(reinterpret_cast<void*>(original));
    armed.log = log;
    if (!original ||
        RedirectImport(original, reinterpret_cast<FARPROC>(
                                     reinterpret_cast<void*>(&CreateFileAOrCrash))) == 0) {
        armed.original = nullptr;
        log.Write("crash at conversion: the service's CreateFileA was not found");
        return false;
    }
    return true;
}

}  // namespace standin
