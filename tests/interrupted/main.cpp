// The reliability suite: GoogleTest, then the figures of the run.
#include "broker_registration.h"
#include "figures.h"

#include <gtest/gtest.h>

#include <iostream>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    Figures::Get().Print(std::cout, BrokerProcessCount());
    return result;
}
