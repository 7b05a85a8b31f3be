#include "plan.h"

namespace {
constexpr size_t kKilo = 1024;
constexpr size_t kLongRun = 1000;
}

Plan FullPlan() {
    Plan plan;
    plan.processStarts = 15;
    plan.requestRepeats = 11;
    plan.hives = {{0, 31}, {1, 31}, {10, 21}, {100, 11}, {1000, 5}};
    plan.uninstallHives = {{0, 7}, {1, 7}, {10, 7}, {100, 5}, {1000, 3}};
    plan.files = {{10, 21}, {100, 11}, {1000, 3}, {10000, 1}};
    plan.iniItems = {{10, 21}, {1000, 11}, {100000, 1}};
    plan.iniValueLengths = {{kKilo, 21}, {100 * kKilo, 5}, {kKilo * kKilo, 1}};
    plan.threadRepeats = 15;
    plan.processRepeats = 31;
    plan.firstRuns = 11;
    plan.firstFollowing = 10;
    plan.longRunRequests = kLongRun;
    return plan;
}

Plan QuickPlan() {
    Plan plan;
    plan.quick = true;
    plan.processStarts = 3;
    plan.requestRepeats = 3;
    plan.hives = {{0, 3}, {1, 3}, {10, 3}, {100, 3}};
    plan.uninstallHives = {{0, 2}, {10, 2}, {100, 2}};
    plan.files = {{10, 3}, {100, 3}, {1000, 1}};
    plan.iniItems = {{10, 3}, {1000, 3}};
    plan.iniValueLengths = {{kKilo, 3}, {100 * kKilo, 1}};
    plan.threadRepeats = 3;
    plan.processRepeats = 3;
    plan.firstRuns = 2;
    plan.firstFollowing = 5;
    plan.longRunRequests = kLongRun;
    return plan;
}
