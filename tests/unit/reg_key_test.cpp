#include "inspect/reg_key.h"

#include "platform/constants.h"
#include "sim_test.h"

namespace {

using sim::View;

constexpr char16_t kPath[] = u"Software\\Halvern Corporation\\Test";

class RegKeyTest : public SimTest {
  protected:
    // The masks of the RegOpenKeyExW calls made so far, in order.
    std::vector<std::string> OpenMasks() {
        std::vector<std::string> masks;
        for (const sim::CallRecord& call : machine().CallsTo("RegOpenKeyExW"))
            masks.push_back(call.arguments.substr(call.arguments.rfind(' ') + 1));
        return masks;
    }
};

TEST_F(RegKeyTest, ReadRuleTriesThe32BitViewFirstThenThe64BitView) {
    machine().SetString(View::Wow64, kPath, u"Value", u"from 64");
    EXPECT_EQ(ReadMachineText(kPath, u"Value"), u"from 64");
    EXPECT_EQ(OpenMasks(), (std::vector<std::string>{"0x20219", "0x20119"}));

    machine().SetString(View::Wow32, kPath, u"Value", u"from 32");
    EXPECT_EQ(ReadMachineText(kPath, u"Value"), u"from 32");
}

TEST_F(RegKeyTest, ReadRuleMakesOneAttemptWithoutViewOn32BitWindows) {
    machine().processorType = win::PROCESSOR_INTEL_PENTIUM;
    machine().SetString(View::Default, kPath, u"Value", u"x");
    EXPECT_EQ(ReadMachineText(kPath, u"Value"), u"x");
    EXPECT_EQ(ReadMachineText(u"Software\\Missing", u"Value"), u"");
    EXPECT_EQ(OpenMasks(), (std::vector<std::string>{"0x20019", "0x20019"}));
}

TEST_F(RegKeyTest, QueryStringAcceptsOnlyNulTerminatedStrings) {
    auto bytes = [](std::u16string text) {
        std::vector<std::uint8_t> data;
        for (char16_t c : text)
            data.insert(data.end(), {std::uint8_t(c & 0xFF), std::uint8_t(c >> 8)});
        return data;
    };
    struct Case {
        const char* what;
        win::DWORD type;
        std::vector<std::uint8_t> data;
        win::LONG result;
        std::u16string text;
    };
    const Case cases[] = {
        {"string", win::REG_SZ, bytes(std::u16string(u"abc\0", 4)), 0, u"abc"},
        {"unexpanded", win::REG_EXPAND_SZ, bytes(std::u16string(u"%TEMP%\\x\0", 9)), 0,
         u"%TEMP%\\x"},
        {"size 0", win::REG_SZ, {}, 0, u""},
        {"two strings", win::REG_SZ, bytes(std::u16string(u"a\0b\0", 4)), 0, u"a"},
        {"no NUL", win::REG_SZ, bytes(u"ab"), win::ERROR_INVALID_DATA, u"ab"},
        {"odd size", win::REG_SZ, {'a', 0, 0}, win::ERROR_MORE_DATA, u""},
        {"number", win::REG_DWORD, {1, 0, 0, 0}, win::ERROR_INVALID_DATA, u"untouched"},
        {"binary", win::REG_BINARY, bytes(std::u16string(u"a\0", 2)), win::ERROR_INVALID_DATA,
         u"untouched"},
    };
    for (const Case& c : cases) {
        machine().SetValue(View::Wow32, kPath, u"V", c.type, c.data);
        CRegKeyEx key;
        ASSERT_EQ(OpenForRead(key, kPath), 0);
        std::u16string text = u"untouched";
        EXPECT_EQ(key.QueryString(u"V", text), c.result) << c.what;
        EXPECT_EQ(text, c.text) << c.what;
    }
    CRegKeyEx key;
    ASSERT_EQ(OpenForRead(key, kPath), 0);
    std::u16string text = u"untouched";
    EXPECT_EQ(key.QueryString(u"Missing", text), win::LONG(win::ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(text, u"untouched");
}

TEST_F(RegKeyTest, ReadMachineTextOfANumberIsEmpty) {
    machine().SetDword(View::Wow32, kPath, u"N", 7);
    EXPECT_EQ(ReadMachineText(kPath, u"N"), u"");
}

TEST_F(RegKeyTest, SetStringCountsTheTerminatingNul) {
    CRegKeyEx key;
    ASSERT_EQ(key.Create(win::HKEY_LOCAL_MACHINE, kPath), 0);
    EXPECT_EQ(key.view(), 0u);
    EXPECT_EQ(key.SetString(u"Three", u"abc"), 0);
    EXPECT_EQ(key.SetString(u"Empty", u""), 0);
    EXPECT_EQ(key.SetString(u"Null", nullptr), win::LONG(win::ERROR_INVALID_DATA));
    EXPECT_EQ(machine().GetValue(View::Wow32, kPath, u"Three")->data.size(), 8u);
    EXPECT_EQ(machine().GetValue(View::Wow32, kPath, u"Empty")->data.size(), 2u);
    EXPECT_EQ(machine().GetValue(View::Wow32, kPath, u"Empty")->type, win::REG_SZ);
    EXPECT_FALSE(machine().GetValue(View::Wow32, kPath, u"Null"));
    EXPECT_EQ(machine().CountCalls("RegSetValueExW"), 2u);
}

TEST_F(RegKeyTest, ASecondOpenReplacesTheKeyOnlyWhenItSucceeds) {
    machine().SetString(View::Wow32, kPath, u"V", u"first");
    machine().CreateKey(View::Wow32, u"Software\\Other");
    CRegKeyEx key;
    ASSERT_EQ(key.Open(win::HKEY_LOCAL_MACHINE, kPath, win::KEY_READ | win::KEY_WOW64_32KEY), 0);
    EXPECT_EQ(key.view(), win::KEY_WOW64_32KEY);

    EXPECT_EQ(key.Open(win::HKEY_LOCAL_MACHINE, u"Software\\Missing", win::KEY_READ),
              win::LONG(win::ERROR_FILE_NOT_FOUND));
    std::u16string text;
    EXPECT_EQ(key.QueryString(u"V", text), 0);
    EXPECT_EQ(text, u"first");
    EXPECT_EQ(machine().CountCalls("RegCloseKey"), 0u);

    EXPECT_EQ(key.Open(win::HKEY_LOCAL_MACHINE, u"Software\\Other", win::KEY_READ), 0);
    EXPECT_EQ(machine().CountCalls("RegCloseKey"), 1u);
    EXPECT_EQ(key.view(), 0u);
    EXPECT_EQ(key.Close(), 0);
    EXPECT_EQ(key.Close(), 0);
    EXPECT_EQ(machine().CountCalls("RegCloseKey"), 2u);
}

TEST_F(RegKeyTest, DeleteTreeRemovesNestedKeysDeepestFirstInTheKeysView) {
    const std::u16string tree = std::u16string(kPath) + u"\\Tree";
    machine().SetString(View::Wow64, tree + u"\\A\\Deep", u"v", u"1");
    machine().SetString(View::Wow64, tree + u"\\B", u"v", u"2");
    machine().SetString(View::Wow32, tree, u"other view", u"stays");

    CRegKeyEx parent;
    ASSERT_EQ(parent.Open(win::HKEY_LOCAL_MACHINE, kPath,
                          win::KEY_READ | win::KEY_WRITE | win::KEY_WOW64_64KEY),
              0);
    EXPECT_EQ(parent.DeleteTree(u"Tree"), 0);
    EXPECT_FALSE(machine().KeyExists(View::Wow64, tree));
    EXPECT_TRUE(machine().KeyExists(View::Wow32, tree));

    std::vector<std::string> deleted;
    for (const sim::CallRecord& call : machine().CallsTo("RegDeleteKeyExW")) {
        EXPECT_NE(call.arguments.find("0x100"), std::string::npos) << call.arguments;
        deleted.push_back(call.arguments.substr(call.arguments.find('"')));
    }
    EXPECT_EQ(deleted, (std::vector<std::string>{"\"Deep\", 0x100", "\"A\", 0x100", "\"B\", 0x100",
                                                 "\"Tree\", 0x100"}));
}

TEST_F(RegKeyTest, DeleteTreeOfAKeyThatDoesNotOpenDeletesNothing) {
    machine().CreateKey(View::Wow32, kPath);
    CRegKeyEx parent;
    ASSERT_EQ(parent.Open(win::HKEY_LOCAL_MACHINE, kPath, win::KEY_READ | win::KEY_WOW64_32KEY), 0);
    EXPECT_EQ(parent.DeleteTree(u"Missing"), win::LONG(win::ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(machine().CountCalls("RegDeleteKeyExW") + machine().CountCalls("RegDeleteKeyW"), 0u);
}

TEST_F(RegKeyTest, DeleteTreeStopsAtTheFirstChildThatFails) {
    const std::u16string tree = std::u16string(kPath) + u"\\Tree";
    machine().CreateKey(View::Wow32, tree + u"\\A");
    machine().CreateKey(View::Wow32, tree + u"\\B");
    machine().Fail("RegDeleteKeyExW", win::ERROR_ACCESS_DENIED, 1);
    CRegKeyEx parent;
    ASSERT_EQ(parent.Open(win::HKEY_LOCAL_MACHINE, kPath, win::KEY_READ | win::KEY_WRITE), 0);
    EXPECT_EQ(parent.DeleteTree(u"Tree"), win::LONG(win::ERROR_ACCESS_DENIED));
    EXPECT_TRUE(machine().KeyExists(View::Wow32, tree + u"\\A"));
    EXPECT_TRUE(machine().KeyExists(View::Wow32, tree + u"\\B"));
}

// The look-up of RegDeleteKeyExW is made once per process, so this runs in a fresh one.
TEST_F(RegKeyTest, WithoutRegDeleteKeyExWTheOlderCallIsUsedAndTheLookUpNotRepeated) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            machine().absentFunctions.insert("RegDeleteKeyExW");
            machine().CreateKey(View::Wow32, std::u16string(kPath) + u"\\A");
            machine().CreateKey(View::Wow32, std::u16string(kPath) + u"\\B");
            CRegKeyEx parent;
            parent.Open(win::HKEY_LOCAL_MACHINE, kPath, win::KEY_READ | win::KEY_WRITE);
            const bool deleted = parent.DeleteSubKey(u"A") == 0 && parent.DeleteSubKey(u"B") == 0;
            const bool once = machine().CountCalls("GetProcAddress") == 1 &&
                              machine().CountCalls("RegDeleteKeyW") == 2;
            std::exit(deleted && once ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
