#pragma once

#include <gtest/gtest.h>

#include "contract_machine.h"

class ContractTest : public ::testing::Test {
  protected:
    void SetUp() override { contract::PrepareMachine(); }
};
