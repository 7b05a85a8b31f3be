#include "injector.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <map>
#include <utility>

namespace injector {
namespace {

enum class Failure {
    kFalse,      // FALSE, and the error as last error
    kNull,       // a null handle or pointer, and the error as last error
    kAllOnes,    // INVALID_HANDLE_VALUE, INVALID_FILE_ATTRIBUTES, no session
    kZero,       // a count of zero characters or bytes, and the error as last error
    kStatus,     // the error itself (LSTATUS, or a DWORD of the same meaning)
    kHresult,    // E_ACCESSDENIED
    kNoMemory,   // a null block: ERROR_NOT_ENOUGH_MEMORY and ENOMEM
    kLookup,     // GetProcAddress: never fails, but what it finds is forwarded too
};

struct Failing {
    const char* function;
    Failure failure;
};

// Every function that can fail and whose failure the module has to live with.
const Failing kFailing[] = {
    {"ConvertSidToStringSidW", Failure::kFalse}, {"GetAce", Failure::kFalse},
    {"GetTokenInformation", Failure::kFalse}, {"ImpersonateLoggedOnUser", Failure::kFalse},
    {"LookupAccountSidW", Failure::kFalse}, {"OpenProcessToken", Failure::kFalse},
    {"OpenThreadToken", Failure::kFalse}, {"RevertToSelf", Failure::kFalse},
    {"CopyFileW", Failure::kFalse}, {"CreateDirectoryW", Failure::kFalse},
    {"DeleteFileW", Failure::kFalse}, {"FindNextFileW", Failure::kFalse},
    {"GetFileSizeEx", Failure::kFalse}, {"MoveFileExW", Failure::kFalse},
    {"ReadFile", Failure::kFalse}, {"RemoveDirectoryW", Failure::kFalse},
    {"WritePrivateProfileStringW", Failure::kFalse}, {"GetFileVersionInfoW", Failure::kFalse},
    {"VerQueryValueW", Failure::kFalse}, {"WTSEnumerateSessionsW", Failure::kFalse},
    {"WTSQueryUserToken", Failure::kFalse},

    {"GetNamedSecurityInfoW", Failure::kStatus}, {"RegCreateKeyExW", Failure::kStatus},
    {"RegDeleteKeyExW", Failure::kStatus}, {"RegDeleteValueW", Failure::kStatus},
    {"RegEnumKeyExW", Failure::kStatus}, {"RegEnumValueW", Failure::kStatus},
    {"RegOpenKeyExW", Failure::kStatus}, {"RegQueryValueExW", Failure::kStatus},
    {"RegSetValueExW", Failure::kStatus},

    {"CreateFileW", Failure::kAllOnes}, {"FindFirstFileW", Failure::kAllOnes},
    {"GetFileAttributesW", Failure::kAllOnes}, {"WTSGetActiveConsoleSessionId", Failure::kAllOnes},

    {"GetPrivateProfileStringW", Failure::kZero}, {"GetFileVersionInfoSizeW", Failure::kZero},

    {"LoadLibraryW", Failure::kNull}, {"LocalAlloc", Failure::kNoMemory},

    {"malloc", Failure::kNoMemory}, {"calloc", Failure::kNoMemory}, {"realloc", Failure::kNoMemory},
    {"_strdup", Failure::kNoMemory}, {"SysAllocString", Failure::kNoMemory},

    {"CLSIDFromString", Failure::kHresult}, {"CoCreateInstance", Failure::kHresult},
    {"CoGetClassObject", Failure::kHresult}, {"CoInitializeEx", Failure::kHresult},
    {"DllRegisterServer", Failure::kHresult}, {"DllUnregisterServer", Failure::kHresult},

    {"GetProcAddress", Failure::kLookup},
};

// What is passed through as it is, and why failing it would mean nothing.
const std::pair<const char*, const char*> kPassed[] = {
    // Releasing what an earlier call gave: nothing is left for the caller to do about a failure.
    {"releases", "CloseHandle FindClose FreeLibrary LocalFree RegCloseKey free SysFreeString WTSFreeMemory "
                 "CoUninitialize"},
    // Comparisons and conversions of text in memory, which fail only for arguments never
    // passed, and facts of the process itself.
    {"facts", "CompareStringOrdinal GetFullPathNameW StringFromGUID2 EqualSid IsWellKnownSid GetLastError SetLastError GetCurrentProcess GetCurrentThread "
              "GetCurrentProcessId GetCurrentThreadId GetTickCount GetTickCount64 GetSystemTimeAsFileTime"},
    // The loader's: the delay-load helper's LoadLibraryA fails as Windows' loader would at load time.
    {"loading", "LoadLibraryA GetModuleHandleW VirtualProtect VirtualQuery"},
    // The C and C++ runtimes' own: locks, threads, exceptions, locale, their startup and exit.
    {"runtime",
     "AddVectoredExceptionHandler RemoveVectoredExceptionHandler CreateEventA CreateSemaphoreA "
     "DeleteCriticalSection DuplicateHandle EnterCriticalSection InitializeCriticalSection "
     "LeaveCriticalSection TryEnterCriticalSection FormatMessageA GetHandleInformation "
     "GetProcessAffinityMask SetProcessAffinityMask GetThreadContext SetThreadContext GetThreadPriority "
     "SetThreadPriority IsDBCSLeadByteEx IsDebuggerPresent OpenProcess OutputDebugStringA RaiseException "
     "ReleaseSemaphore ResetEvent SetEvent ResumeThread SuspendThread RtlCaptureContext "
     "RtlLookupFunctionEntry RtlUnwindEx RtlVirtualUnwind Sleep TlsAlloc TlsGetValue TlsSetValue "
     "WaitForMultipleObjects WaitForSingleObject __C_specific_handler MultiByteToWideChar "
     "WideCharToMultiByte"},
    // The C library's strings, memory, locale and streams: no failure to report, or none we call.
    {"C library",
     "___lc_codepage_func ___mb_cur_max_func __iob_func _amsg_exit _beginthreadex _endthreadex _errno "
     "_initterm _lock _setjmp _unlock _ultoa _wtoi abort exit fwprintf fprintf fputc fputs fputwc fwrite "
     "iswctype localeconv memchr memcmp memcpy memmove memset printf setlocale signal strcmp strcoll "
     "strerror strftime strlen strncmp strxfrm towlower towupper vfprintf wcscoll wcsftime wcslen "
     "wcsncmp wcsxfrm longjmp _read _close"},
};

// Every import takes integers and pointers alone: under the x64 calling convention they
// travel in the same registers and stack slots whatever their types, so one forwarder of
// twelve words calls any of them (none takes more).
using Word = uintptr_t;
using AnyFunction = Word (*)(Word, Word, Word, Word, Word, Word, Word, Word, Word, Word, Word, Word);

struct Slot {
    HMODULE module = nullptr;
    const char* function = nullptr;
    Failure failure = Failure::kFalse;
    AnyFunction real = nullptr;
};

constexpr size_t kSlots = 256;
Slot slots[kSlots];
size_t used = 0;

struct Armed {
    HMODULE module = nullptr;
    uintptr_t begin = 0, end = 0;  // its image
    DWORD thread = 0;
    size_t failAt = 0;
    bool inside = false;  // counting allocates, through the test's own forwarders
    std::vector<Call> calls;
} armed;

const Failing* FindFailing(const char* function) {
    for (const Failing& f : kFailing)
        if (std::strcmp(f.function, function) == 0) return &f;
    return nullptr;
}

bool IsPassed(const char* function) {
    const std::string padded = std::string(" ") + function + " ";
    for (const auto& [reason, names] : kPassed)
        if ((std::string(" ") + names + " ").find(padded) != std::string::npos) return true;
    return false;
}

uintptr_t AllocationSite() {
    void* frames[8];
    const USHORT count = RtlCaptureStackBackTrace(0, 8, frames, nullptr);
    uintptr_t site = 0;
    for (USHORT i = 0; i < count; ++i) {
        const auto frame = reinterpret_cast<uintptr_t>(frames[i]);
        if (frame >= armed.begin && frame < armed.end) site = site * 31 + frame;
    }
    return site;
}

bool Counts(const Slot& slot, void* returnAddress) {
    if (slot.module != armed.module || armed.inside || GetCurrentThreadId() != armed.thread) return false;
    armed.inside = true;
    const uintptr_t site =
        slot.failure == Failure::kNoMemory ? AllocationSite() : reinterpret_cast<uintptr_t>(returnAddress);
    armed.calls.push_back({slot.function, site});
    armed.inside = false;
    return armed.calls.size() == armed.failAt;
}

Word Fail(Failure failure) {
    switch (failure) {
    case Failure::kStatus: return ERROR_ACCESS_DENIED;
    case Failure::kHresult: return static_cast<Word>(static_cast<ULONG>(E_ACCESSDENIED));
    case Failure::kNoMemory:
        errno = ENOMEM;
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    case Failure::kAllOnes: SetLastError(ERROR_ACCESS_DENIED); return ~Word(0);
    default: SetLastError(ERROR_ACCESS_DENIED); return 0;
    }
}

void* Forwarder(HMODULE module, const char* function, void* real);

template <size_t N>
Word Forward(Word a, Word b, Word c, Word d, Word e, Word f, Word g, Word h, Word i, Word j, Word k, Word l) {
    const Slot& slot = slots[N];
    if (slot.failure == Failure::kLookup) {
        const Word found = slot.real(a, b, c, d, e, f, g, h, i, j, k, l);
        // An ordinal is no name.
        if (!found || b >> 16 == 0) return found;
        return reinterpret_cast<Word>(
            Forwarder(slot.module, reinterpret_cast<const char*>(b), reinterpret_cast<void*>(found)));
    }
    if (Counts(slot, __builtin_return_address(0))) return Fail(slot.failure);
    return slot.real(a, b, c, d, e, f, g, h, i, j, k, l);
}

template <size_t... N>
constexpr auto MakeForwarders(std::index_sequence<N...>) {
    return std::array<AnyFunction, sizeof...(N)>{{&Forward<N>...}};
}
const auto kForwarders = MakeForwarders(std::make_index_sequence<kSlots>());

// The forwarder of `function` as `module` calls it, or `real` where it never fails.
void* Forwarder(HMODULE module, const char* function, void* real) {
    const Failing* failing = FindFailing(function);
    if (!failing) return real;
    for (size_t n = 0; n < used; ++n)
        if (slots[n].module == module && slots[n].real == reinterpret_cast<AnyFunction>(real) &&
            std::strcmp(slots[n].function, failing->function) == 0)
            return reinterpret_cast<void*>(kForwarders[n]);
    if (used == kSlots) return real;
    slots[used] = {module, failing->function, failing->failure, reinterpret_cast<AnyFunction>(real)};
    return reinterpret_cast<void*>(kForwarders[used++]);
}

const IMAGE_NT_HEADERS* Headers(HMODULE module) {
    const auto base = reinterpret_cast<const BYTE*>(module);
    return reinterpret_cast<const IMAGE_NT_HEADERS*>(base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
}

// Each function the module imports by name, with its address in the import table.
template <typename Visit>
void ForEachImport(HMODULE module, Visit visit) {
    const auto base = reinterpret_cast<BYTE*>(module);
    const IMAGE_DATA_DIRECTORY& directory = Headers(module)->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress); d->Name; ++d) {
        auto name = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk);
        auto address = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
        for (; name->u1.AddressOfData; ++name, ++address)
            if (!IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal))
                visit(reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + name->u1.AddressOfData)->Name, address->u1.Function);
    }
}

}  // namespace

void Patch(HMODULE module) {
    ForEachImport(module, [module](const char* function, ULONGLONG& entry) {
        void* forwarder = Forwarder(module, function, reinterpret_cast<void*>(entry));
        DWORD was;
        VirtualProtect(&entry, sizeof entry, PAGE_READWRITE, &was);
        entry = reinterpret_cast<ULONGLONG>(forwarder);
        VirtualProtect(&entry, sizeof entry, was, &was);
    });
}

std::vector<std::string> Unlisted(HMODULE module) {
    std::vector<std::string> unlisted;
    ForEachImport(module, [&unlisted](const char* function, ULONGLONG&) {
        if (!FindFailing(function) && !IsPassed(function)) unlisted.push_back(function);
    });
    return unlisted;
}

void Arm(HMODULE module, size_t failAt) {
    armed.calls.clear();
    armed.calls.reserve(1 << 16);
    armed.begin = reinterpret_cast<uintptr_t>(module);
    armed.end = armed.begin + Headers(module)->OptionalHeader.SizeOfImage;
    armed.failAt = failAt;
    armed.thread = GetCurrentThreadId();
    armed.module = module;
}

std::vector<Call> Disarm() {
    armed.module = nullptr;
    return std::move(armed.calls);
}

DWORD FailureCode(const char* function) {
    const Failing* failing = FindFailing(function);
    return failing && failing->failure == Failure::kNoMemory ? ERROR_NOT_ENOUGH_MEMORY : ERROR_ACCESS_DENIED;
}

}  // namespace injector
