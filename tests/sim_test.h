// The fixture of every host test: a fresh simulated machine before the test, and after it the
// proof that the program left no handle, heap block, key, set or GDI object open.
#pragma once

#include <gtest/gtest.h>

#include "simwin/sim.h"

class SimTest : public ::testing::Test {
  protected:
    void SetUp() override {
        sim::reset();
    }
    void TearDown() override {
        EXPECT_EQ(sim::open_summary(), "") << "left open after the test";
    }
};
