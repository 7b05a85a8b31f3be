// How much each section measures: sizes and repetitions. The full run stays within a few
// minutes under Wine; the quick run (CI) within about one, with smaller sizes.
#pragma once

#include <cstddef>
#include <vector>

struct Size {
    size_t count;
    int repeats;
    // An untimed round first, so that first loads and cold caches are not in the figures;
    // a size measured once is too large to pay it.
    bool warmUp() const { return repeats > 1; }
};

struct Plan {
    bool quick = false;
    int processStarts = 0;
    int requestRepeats = 0;   // requests against the floor, and their steps
    std::vector<Size> hives;  // user hives added to the prefix's own; 0 is the base line
    std::vector<Size> uninstallHives;  // the same for Uninstall, whose broker costs Wine a second
    std::vector<Size> files;
    std::vector<Size> iniItems;
    std::vector<Size> iniValueLengths;  // characters
    // Requests from a thread without an apartment, and their floor. Under Wine 8 each round
    // costs the process two of the 63 apartments COM can host in its life.
    int threadRepeats = 0;
    int processRepeats = 0;  // whole processes of installer-host and of the floor program
    int firstRuns = 0;       // processes that each make a first request and the following ones
    size_t firstFollowing = 0;
    size_t longRunRequests = 0;  // only on request (--only long-run)
};

// Rounds run from FirstRound to repeats - 1; round -1, where there is one, is the untimed
// warm-up.
inline int FirstRound(bool warmUp) { return warmUp ? -1 : 0; }
inline bool IsTimed(int round) { return round >= 0; }

Plan FullPlan();
Plan QuickPlan();
