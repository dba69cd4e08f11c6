#pragma once

// The recorder simulator as the tests run it: on 127.0.0.1 at a port the system picks. For test
// programs that link the simulator.

#include "sim/simulator.h"

#include <gtest/gtest.h>

#include <string>

namespace tolvane::test {

// Options for a simulator on 127.0.0.1 at a port the system picks, keeping each payload whole so
// tests can compare it.
inline sim::SimulatorOptions loopbackOptions(sim::Fault fault = sim::Fault::None)
{
    sim::SimulatorOptions options;
    options.host = "127.0.0.1";
    options.port = 0;
    options.fault = fault;
    options.keepPayload = true;
    return options;
}

// Starts the simulator, or says why it could not: for ASSERT_TRUE or EXPECT_TRUE.
inline ::testing::AssertionResult startSimulator(sim::Simulator& simulator)
{
    const auto started = simulator.start();
    if (started)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "the simulator did not start: " << started.failure().text();
}

} // namespace tolvane::test
