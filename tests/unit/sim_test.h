// Every unit test starts from a fresh simulated machine.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/patch_table.h"
#include "platform/sim/machine.h"

class SimTest : public ::testing::Test {
  protected:
    void SetUp() override { sim::ResetMachine(); }
    sim::Machine& machine() { return sim::machine(); }

    // Rows of the patch table as work items, the Trimkit rows in C:\P\Trimkit and all
    // others in C:\P\App.
    static PatchWorkList WorkItems(std::initializer_list<std::size_t> rows) {
        PatchWorkList items;
        for (const std::size_t row : rows) {
            PatchItem item = PatchTable.at(row);
            item.fileName =
                (item.folderId == TrimkitFolder ? u"C:\\P\\Trimkit\\" : u"C:\\P\\App\\") +
                item.fileName;
            items.push_back(item);
        }
        return items;
    }

    static std::vector<std::uint8_t> ReadFixture(const std::string& name) {
        std::ifstream in(std::string(FIXTURE_DIR) + "/" + name, std::ios::binary);
        EXPECT_TRUE(in) << "missing fixture " << name;
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
};
