// A registration broker started ahead of a request. Wine starts an out-of-process COM
// server anew for every activation and then pauses a full second before it looks for the
// server's class, however soon the server is up; a broker that already runs and waits for
// its one client is found at once.
#pragma once

#include "sys/handles.h"

class BrokerStandby {
public:
    // Starts a broker unless the one started last still runs, waiting for its client.
    void Ensure();
    // After a killed request: the broker it called may wait for the dead host forever. It
    // is left alone (a killed broker leaves its class registered, and calls fail with
    // 1722), and the next request gets a fresh one.
    void Forget() { process_.reset(); }

private:
    sys::UniqueKernelHandle process_;
};
