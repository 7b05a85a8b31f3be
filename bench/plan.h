// How much each section measures: sizes and repetitions. The full run stays within a few
// minutes under Wine; the quick run (CI) within about one, with smaller sizes.
#pragma once

#include <cstddef>
#include <vector>

struct Size {
    size_t count;
    int repeats;
};

struct Plan {
    bool quick = false;
    int processStarts = 0;
    int requestRepeats = 0;   // requests against the floor, and their steps
    std::vector<Size> hives;  // user hives added to the prefix's own; 0 is the base line
    std::vector<Size> files;
    std::vector<Size> iniItems;
    std::vector<Size> iniValueLengths;  // characters
};

Plan FullPlan();
Plan QuickPlan();
