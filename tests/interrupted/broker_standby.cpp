#include "broker_standby.h"

#include "broker_registration.h"

#include <string>

namespace {

// How COM starts a local server; the broker then registers its class for one client.
constexpr wchar_t kEmbeddingSwitch[] = L" -Embedding";

}  // namespace

void BrokerStandby::Ensure() {
    if (process_ && ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) return;
    std::wstring command = L"\"" + BrokerProgramPath() + L"\"" + kEmbeddingSwitch;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION created{};
    process_.reset();
    if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS,
                          nullptr, nullptr, &startup, &created))
        return;
    process_.reset(created.hProcess);
    const sys::UniqueKernelHandle thread(created.hThread);
}
