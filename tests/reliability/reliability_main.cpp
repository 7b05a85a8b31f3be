// The reliability suite's entry point: GoogleTest with the figures printed at the end.
#include "figures.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // The framework owns and deletes the listener.
    ::testing::UnitTest::GetInstance()->listeners().Append(new FiguresPrinter);
    return RUN_ALL_TESTS();
}
