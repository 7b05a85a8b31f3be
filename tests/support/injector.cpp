#include "injector.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <map>
#include <utility>

namespace injector {
namespace {

enum class Failure { kFalse, kNull, kAllOnes, kZero, kStatus, kHresult, kNoMemory, kLookup, kPass };

// injected_functions.txt: each function, and how its calls fail (or that they pass).
const std::map<std::string, Failure, std::less<>>& Functions() {
    static const std::map<std::string, Failure, std::less<>> functions = [] {
        const std::map<std::string, Failure, std::less<>> kinds{
            {"false", Failure::kFalse},     {"null", Failure::kNull},   {"all-ones", Failure::kAllOnes},
            {"zero", Failure::kZero},       {"status", Failure::kStatus}, {"hresult", Failure::kHresult},
            {"no-memory", Failure::kNoMemory}, {"lookup", Failure::kLookup}, {"pass", Failure::kPass}};
        std::map<std::string, Failure, std::less<>> read;
        std::ifstream table(std::filesystem::path(INJECTED_FUNCTIONS));
        for (std::string line; std::getline(table, line);) {
            std::istringstream words(line);
            std::string kind, function;
            if (!(words >> kind) || kind[0] == '#') continue;
            while (words >> function) read[function] = kinds.at(kind);
        }
        return read;
    }();
    return functions;
}

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
    bool kill = false;
    bool inside = false;  // counting allocates, through the test's own forwarders
    std::vector<Call> calls;
} armed;

// How the function's calls fail; kPass also for a function in no table.
Failure FailureOf(const char* function) {
    const auto found = Functions().find(function);
    return found == Functions().end() ? Failure::kPass : found->second;
}

uintptr_t Site() {
    void* frames[8];
    const USHORT count = RtlCaptureStackBackTrace(0, 8, frames, nullptr);
    uintptr_t site = 0;
    for (USHORT i = 0; i < count; ++i) {
        const auto frame = reinterpret_cast<uintptr_t>(frames[i]);
        if (frame >= armed.begin && frame < armed.end) site = site * 31 + frame;
    }
    return site;
}

bool Counts(const Slot& slot) {
    if (slot.module != armed.module || armed.inside || GetCurrentThreadId() != armed.thread) return false;
    armed.inside = true;
    armed.calls.push_back({slot.function, Site()});
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
    if (Counts(slot)) {
        if (armed.kill) TerminateProcess(GetCurrentProcess(), kKilled);
        return Fail(slot.failure);
    }
    return slot.real(a, b, c, d, e, f, g, h, i, j, k, l);
}

template <size_t... N>
constexpr auto MakeForwarders(std::index_sequence<N...>) {
    return std::array<AnyFunction, sizeof...(N)>{{&Forward<N>...}};
}
const auto kForwarders = MakeForwarders(std::make_index_sequence<kSlots>());

// The forwarder of `function` as `module` calls it, or `real` where it never fails.
void* Forwarder(HMODULE module, const char* function, void* real) {
    const auto found = Functions().find(function);
    if (found == Functions().end() || found->second == Failure::kPass) return real;
    for (size_t n = 0; n < used; ++n)
        if (slots[n].module == module && slots[n].real == reinterpret_cast<AnyFunction>(real) &&
            slots[n].function == found->first.c_str())
            return reinterpret_cast<void*>(kForwarders[n]);
    if (used == kSlots) return real;
    slots[used] = {module, found->first.c_str(), found->second, reinterpret_cast<AnyFunction>(real)};
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
        if (Functions().count(function) == 0) unlisted.push_back(function);
    });
    return unlisted;
}

void Arm(HMODULE module, size_t failAt, bool kill) {
    armed.calls.clear();
    armed.calls.reserve(1 << 16);
    armed.begin = reinterpret_cast<uintptr_t>(module);
    armed.end = armed.begin + Headers(module)->OptionalHeader.SizeOfImage;
    armed.failAt = failAt;
    armed.kill = kill;
    armed.thread = GetCurrentThreadId();
    armed.module = module;
}

std::vector<Call> Disarm() {
    armed.module = nullptr;
    return std::move(armed.calls);
}

DWORD FailureCode(const char* function) {
    return FailureOf(function) == Failure::kNoMemory ? ERROR_NOT_ENOUGH_MEMORY : ERROR_ACCESS_DENIED;
}

}  // namespace injector
