// The registration broker in the test prefix: its registration, as
// `ComRegistrationBroker.exe /RegServer` and `/UnregServer` do it, and a look at whether a
// broker process is still running.
#pragma once

#include <windows.h>

#include <string>

std::wstring BrokerProgramPath();  // ProgramFolder()\fixtures\broker\ComRegistrationBroker.exe

// Run the broker with that switch and return its exit code: 0 or the failing HRESULT.
DWORD RegisterBroker();
DWORD UnregisterBroker();

// Number of broker processes running now.
int BrokerProcessCount();
// True once no broker process runs, waiting up to `timeoutMs` for the last to exit.
bool WaitUntilNoBrokerProcess(DWORD timeoutMs);

// Registers the broker for the life of a test and removes it again.
class ScopedBrokerRegistration {
public:
    ScopedBrokerRegistration();
    ~ScopedBrokerRegistration();
    ScopedBrokerRegistration(const ScopedBrokerRegistration&) = delete;
    ScopedBrokerRegistration& operator=(const ScopedBrokerRegistration&) = delete;

    DWORD result() const { return result_; }  // of the registration

private:
    DWORD result_;
};
