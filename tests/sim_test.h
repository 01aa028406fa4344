// The fixture of every host test: a fresh simulated machine before the test, and after it the
// proof that the program left no handle, heap block, key, set or GDI object open and that every
// action the test scheduled with sim::at() ran (an assertion in one that never ran proves
// nothing).
#pragma once

#include <gtest/gtest.h>

#include "simwin/sim.h"

class SimTest : public ::testing::Test {
  protected:
    void SetUp() override {
        sim::reset();
        sim::forget_unrun_actions();
    }
    void TearDown() override {
        EXPECT_EQ(sim::open_summary(), "") << "left open after the test";
        EXPECT_EQ(sim::unrun_actions(), 0) << "scheduled actions that never ran";
    }
};
