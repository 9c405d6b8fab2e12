// The string table of the program's own module, looked up by block.
#include "contract_test.h"
#include "run/message_catalogue.h"

namespace {

class StringTableContract : public ContractTest {};

TEST_F(StringTableContract, TextsComeFromTheModulesOwnStringBlocks) {
    EXPECT_EQ(LoadMessage(200), u"Orlin Reelwright Update Program");
    EXPECT_EQ(LoadMessage(1230), u"Now processing...\nPlease wait for a while.");
    EXPECT_EQ(FormatMessageWithCode(1213, 0x80004005u),
              u"Package Update Failed.\r\n(code = 0x80004005)");
    EXPECT_EQ(LoadMessage(1204), u"");  // in a block that exists
    EXPECT_EQ(LoadMessage(3000), u"");  // in one that does not
}

}  // namespace
