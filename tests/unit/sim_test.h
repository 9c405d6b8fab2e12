// Every unit test starts from a fresh simulated machine.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/sim/machine.h"

class SimTest : public ::testing::Test {
  protected:
    void SetUp() override { sim::ResetMachine(); }
    sim::Machine& machine() { return sim::machine(); }

    static std::vector<std::uint8_t> ReadFixture(const std::string& name) {
        std::ifstream in(std::string(FIXTURE_DIR) + "/" + name, std::ios::binary);
        EXPECT_TRUE(in) << "missing fixture " << name;
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
};
