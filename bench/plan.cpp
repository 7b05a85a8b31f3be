#include "plan.h"

namespace {
constexpr size_t kKilo = 1024;
}

Plan FullPlan() {
    Plan plan;
    plan.processStarts = 15;
    plan.requestRepeats = 15;
    plan.hives = {{0, 31}, {1, 31}, {10, 21}, {100, 11}, {1000, 5}};
    plan.files = {{10, 21}, {100, 11}, {1000, 5}, {10000, 3}};
    plan.iniItems = {{10, 21}, {1000, 11}, {100000, 3}};
    plan.iniValueLengths = {{kKilo, 21}, {100 * kKilo, 7}, {kKilo * kKilo, 3}};
    return plan;
}

Plan QuickPlan() {
    Plan plan;
    plan.quick = true;
    plan.processStarts = 3;
    plan.requestRepeats = 3;
    plan.hives = {{0, 3}, {1, 3}, {10, 3}, {100, 3}};
    plan.files = {{10, 3}, {100, 3}, {1000, 1}};
    plan.iniItems = {{10, 3}, {1000, 3}};
    plan.iniValueLengths = {{kKilo, 3}, {100 * kKilo, 1}};
    return plan;
}
