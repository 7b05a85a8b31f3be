// The suite's figures: how many faults, hostile inputs and repeat-and-order cases it
// tried, and how many the library came through as expected. A test marks itself as one
// case of a kind; a listener counts the marks and prints the figures at the end.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

enum class CaseKind { Fault, HostileInput, RepeatOrOrder };

// Marks the running test as one case of that kind.
void CountAs(CaseKind kind);
// Marks the running case as one that, although it behaves as the library's contract says,
// leaves something of the add-in behind; it counts as tried but not as survived.
void LeavesATrace(const char* what);

class FiguresPrinter : public ::testing::EmptyTestEventListener {
public:
    void OnTestEnd(const ::testing::TestInfo& test) override;
    void OnTestProgramEnd(const ::testing::UnitTest& unitTest) override;

private:
    struct Tally {
        int tried = 0;
        int cameThrough = 0;
    };
    Tally faults_;
    Tally hostile_;
    Tally repeats_;
    std::vector<std::string> traces_;
};
