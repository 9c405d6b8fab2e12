#include "records/patch_list.h"

#include "inspect/product_identity.h"
#include "platform/constants.h"
#include "records/installation_records.h"
#include "sim_test.h"

namespace {

using sim::View;

constexpr char16_t kProductKey[] =
    u"Software\\Halvern Corporation\\Shared Info\\AppDB\\Orlin Reelwright";
constexpr char16_t kEntry[] =
    u"Software\\Halvern Corporation\\Shared Info\\AppDB\\Orlin Reelwright\\PatchList\\"
    u"KQ0000458107";
constexpr char16_t kAppKey[] = u"Software\\Halvern Corporation\\Orlin Reelwright\\1.0\\App";
constexpr char16_t kFolder[] = u"C:\\Program Files (x86)\\Halvern\\Orlin Reelwright";

const std::vector<std::string> kAllValues = {"patchid", "patchname", "version", "InstallerPath",
                                             "SilentUninstall"};
const std::vector<std::string> kFirstThree = {"patchid", "patchname", "version"};

// The text between the first pair of double quotes of a logged argument list.
std::string QuotedName(const std::string& arguments) {
    const std::size_t open = arguments.find('"');
    return arguments.substr(open + 1, arguments.find('"', open + 1) - open - 1);
}

class PatchListTest : public SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        Stage(u"4.2.0.0");
    }
    // A registered product at this AppDB version (none: no "version" value).
    void Stage(const std::optional<std::u16string>& appDbVersion,
               const std::u16string& folder = kFolder) {
        machine().CreateKey(View::Wow32, kProductKey);
        if (appDbVersion) machine().SetString(View::Wow32, kProductKey, u"version", *appDbVersion);
        machine().SetString(View::Wow32, kAppKey, u"ApplicationDir", folder);
    }
    static bool Register() { return RegisterPatchList(product::kUpdateId, product::kProductName); }

    // The value names of the writes attempted, in order.
    std::vector<std::string> Writes() {
        std::vector<std::string> names;
        for (const sim::CallRecord& call : machine().CallsTo("RegSetValueExW"))
            names.push_back(QuotedName(call.arguments));
        return names;
    }
    std::vector<std::string> Stored() {
        std::vector<std::string> names;
        for (const std::string& name : kAllValues) {
            if (machine().GetValue(View::Wow32, kEntry, sim::Widen(name))) names.push_back(name);
        }
        return names;
    }
    std::u16string Entry(const char16_t* name) {
        return machine().GetString(View::Wow32, kEntry, name).value_or(u"<missing>");
    }
    std::string FirstOpenMask() {
        const std::string arguments = machine().CallsTo("RegOpenKeyExW").at(0).arguments;
        return arguments.substr(arguments.rfind(' ') + 1);
    }
};

TEST_F(PatchListTest, TheInstalledVersionWindowDecidesTheUninstallValues) {
    struct Case {
        std::optional<std::u16string> appDbVersion;
        std::vector<std::string> written;
    };
    const Case cases[] = {
        {u"4.1.0.0", kAllValues},      {u"4.3.0.11000", kAllValues}, {u"4.2.7.3", kAllValues},
        {u"4.3.0.11001", kFirstThree}, {u"4.0.9.9", kFirstThree},    {u"4.0.0.0", kFirstThree},
        {u"4.3.1.0", kFirstThree},     {u"", kFirstThree},           {std::nullopt, kFirstThree},
    };
    for (const Case& c : cases) {
        const std::string what = c.appDbVersion ? sim::Narrow(*c.appDbVersion) : "no value";
        sim::ResetMachine();
        Stage(c.appDbVersion);
        EXPECT_TRUE(Register()) << what;
        EXPECT_EQ(Writes(), c.written) << what;
        EXPECT_EQ(Stored(), c.written) << what;
        EXPECT_EQ(Entry(u"patchid"), u"KQ0000458107") << what;
        EXPECT_EQ(Entry(u"patchname"), u"Orlin Reelwright") << what;
        EXPECT_EQ(Entry(u"version"), u"4.3.01.11140") << what;
        // The product key's own "version" is the installed one and stays as it was.
        if (c.appDbVersion) {
            EXPECT_EQ(machine().GetString(View::Wow32, kProductKey, u"version"), *c.appDbVersion);
        }
    }
}

TEST_F(PatchListTest, EveryValueIsAStringWithItsNulCountedAndSilentUninstallIsEmpty) {
    ASSERT_TRUE(Register());
    const std::pair<const char16_t*, std::size_t> sizes[] = {
        {u"patchid", 2 * 13},
        {u"patchname", 2 * 17},
        {u"version", 2 * 13},
        {u"InstallerPath", 2 * (std::u16string_view(kFolder).size() + 16)},
        {u"SilentUninstall", 2}};
    for (const auto& [name, size] : sizes) {
        const auto value = machine().GetValue(View::Wow32, kEntry, name);
        ASSERT_TRUE(value) << sim::Narrow(name);
        EXPECT_EQ(value->type, win::REG_SZ) << sim::Narrow(name);
        EXPECT_EQ(value->data.size(), size) << sim::Narrow(name);
    }
    EXPECT_EQ(machine().GetValue(View::Wow32, kEntry, u"SilentUninstall")->data,
              (std::vector<std::uint8_t>{0, 0}));
}

TEST_F(PatchListTest, InstallerPathJoinsTheFolderAndTheBatchFileWithOneBackslash) {
    const std::pair<std::u16string, std::u16string> cases[] = {
        {u"C:\\Apps\\Orlin", u"C:\\Apps\\Orlin\\RemoveKeys.bat"},
        {u"C:\\Apps\\Orlin\\", u"C:\\Apps\\Orlin\\RemoveKeys.bat"},
        {u"C:\\", u"C:\\RemoveKeys.bat"},
        {u"", u"\\RemoveKeys.bat"},
    };
    for (const auto& [folder, path] : cases) {
        sim::ResetMachine();
        Stage(u"4.2.0.0", folder);
        EXPECT_TRUE(Register());
        EXPECT_EQ(Entry(u"InstallerPath"), path) << sim::Narrow(folder);
    }
}

TEST_F(PatchListTest, AMissingProductKeyWritesNothingAtAll) {
    sim::ResetMachine();
    machine().SetString(View::Wow32, kAppKey, u"ApplicationDir", kFolder);
    // A product registered only in the 64-bit view is not the 32-bit program's product.
    machine().SetString(View::Wow64, kProductKey, u"version", u"4.2.0.0");
    EXPECT_FALSE(Register());
    EXPECT_EQ(machine().CountCalls("RegCreateKeyExW"), 0u);
    EXPECT_EQ(machine().CountCalls("RegSetValueExW"), 0u);
    EXPECT_FALSE(machine().KeyExists(View::Wow32, kProductKey));
    EXPECT_FALSE(machine().KeyExists(View::Wow64, kEntry));
}

TEST_F(PatchListTest, AnExistingEntryIsReusedAndItsOtherValuesKept) {
    machine().SetString(View::Wow32, kEntry, u"patchid", u"older");
    machine().SetString(View::Wow32, kEntry, u"version", u"4.2.0.0");
    machine().SetString(View::Wow32, kEntry, u"Comment", u"left by an earlier run");
    machine().SetString(View::Wow32, kEntry + std::u16string(u"\\Child"), u"V", u"x");
    EXPECT_TRUE(Register());
    EXPECT_EQ(Entry(u"patchid"), u"KQ0000458107");
    EXPECT_EQ(Entry(u"version"), u"4.3.01.11140");
    EXPECT_EQ(Entry(u"Comment"), u"left by an earlier run");
    EXPECT_EQ(machine().GetString(View::Wow32, kEntry + std::u16string(u"\\Child"), u"V"), u"x");
    EXPECT_EQ(Stored(), kAllValues);
}

TEST_F(PatchListTest, TheViewFlagIsAskedForOnlyUnderWow64OnA64BitProcessor) {
    struct Case {
        const char* what;
        win::DWORD processor;
        const char* absent;  // a function GetProcAddress does not find
        bool wow64Fails;
        std::string mask;
    };
    const Case cases[] = {
        {"64-bit, WOW64", win::PROCESSOR_AMD_X8664, nullptr, false, "0x2021f"},
        {"IA-64, WOW64", win::PROCESSOR_INTEL_IA64, nullptr, false, "0x2021f"},
        {"64-bit, no IsWow64Process", win::PROCESSOR_AMD_X8664, "IsWow64Process", false, "0x2001f"},
        {"64-bit, IsWow64Process fails", win::PROCESSOR_AMD_X8664, nullptr, true, "0x2001f"},
        {"32-bit", win::PROCESSOR_INTEL_PENTIUM, nullptr, false, "0x2001f"},
    };
    for (const Case& c : cases) {
        sim::ResetMachine();
        machine().processorType = c.processor;
        if (c.absent) machine().absentFunctions.insert(c.absent);
        if (c.wow64Fails) machine().Fail("IsWow64Process", win::ERROR_ACCESS_DENIED);
        Stage(u"4.2.0.0");
        EXPECT_TRUE(Register()) << c.what;
        EXPECT_EQ(FirstOpenMask(), c.mask) << c.what;
        EXPECT_EQ(Stored(), kAllValues) << c.what;
    }
}

TEST_F(PatchListTest, AFailedWriteStopsTheSequenceAndKeepsWhatWasWritten) {
    for (std::size_t failing = 1; failing <= kAllValues.size(); ++failing) {
        sim::ResetMachine();
        Stage(u"4.2.0.0");
        machine().Fail("RegSetValueExW", win::ERROR_ACCESS_DENIED, static_cast<int>(failing));
        EXPECT_FALSE(Register()) << failing;
        const std::vector<std::string> attempted(kAllValues.begin(), kAllValues.begin() + failing);
        EXPECT_EQ(Writes(), attempted) << failing;
        EXPECT_EQ(Stored(), std::vector<std::string>(attempted.begin(), attempted.end() - 1))
            << failing;
    }
}

TEST_F(PatchListTest, AnEntryThatCannotBeCreatedOrAMissingArgumentFails) {
    machine().Fail("RegCreateKeyExW", win::ERROR_ACCESS_DENIED);
    EXPECT_FALSE(Register());
    EXPECT_EQ(machine().CountCalls("RegSetValueExW"), 0u);

    sim::ResetMachine();
    Stage(u"4.2.0.0");
    EXPECT_FALSE(RegisterPatchList(nullptr, product::kProductName));
    EXPECT_EQ(machine().CountCalls("RegSetValueExW"), 0u);

    sim::ResetMachine();
    Stage(u"4.2.0.0");
    EXPECT_FALSE(RegisterPatchList(product::kUpdateId, nullptr));
    EXPECT_EQ(Writes(), std::vector<std::string>{"patchid"});
}

TEST_F(PatchListTest, TheProductKeyIsNamedByTheProductNotByTheCallersText) {
    EXPECT_TRUE(RegisterPatchList(u"KQ0000458107", u"Another Name"));
    EXPECT_EQ(Entry(u"patchname"), u"Another Name");
    EXPECT_FALSE(machine().KeyExists(
        View::Wow32, u"Software\\Halvern Corporation\\Shared Info\\AppDB\\Another Name"));
}

// --- the three record steps -----------------------------------------------------------------

class InstallationRecordsTest : public PatchListTest {
  protected:
    void SetUp() override {
        PatchListTest::SetUp();
        machine().AddDirectory(kFolder);
        machine().SetString(View::Wow32,
                            u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
                            u"InstallShield_{7E1A4B90-5D3C-4F62-9A17-3B8C0D2E6F41}",
                            u"DisplayVersion", u"4.2.0.0");
    }
    static UpdateContext Identified() {
        UpdateContext context;
        SetUpdateIdentity(context);
        return context;
    }
    // Index in the call log of the first call to the function whose arguments hold the text.
    std::size_t IndexOf(const std::string& function, const std::string& text) {
        for (std::size_t i = 0; i < machine().calls.size(); ++i) {
            const sim::CallRecord& call = machine().calls[i];
            if (call.function == function && call.arguments.find(text) != std::string::npos)
                return i;
        }
        ADD_FAILURE() << "no " << function << " with " << text;
        return 0;
    }
    const sim::File* History() {
        return machine().FindFile(kFolder + std::u16string(u"\\version.txt"));
    }
};

TEST_F(InstallationRecordsTest, TheIdentityNamesThisUpdateAndProduct) {
    UpdateContext context;
    SetUpdateIdentity(context);
    EXPECT_EQ(context.patchId, u"KQ0000458107");
    EXPECT_EQ(context.productName, u"Orlin Reelwright");
}

TEST_F(InstallationRecordsTest, TheStepsRunInOrderPatchListHistoryRegistration) {
    WriteInstallationRecords(Identified());
    const std::size_t patchList = IndexOf("RegSetValueExW", "\"SilentUninstall\"");
    const std::size_t history = IndexOf("CreateFileW", "version.txt");
    const std::size_t registration = IndexOf("RegSetValueExW", "\"DisplayVersion\"");
    EXPECT_LT(patchList, history);
    EXPECT_LT(history, registration);
    EXPECT_EQ(Stored(), kAllValues);
    EXPECT_NE(History(), nullptr);
    EXPECT_EQ(machine().GetString(View::Wow32,
                                  u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
                                  u"InstallShield_{7E1A4B90-5D3C-4F62-9A17-3B8C0D2E6F41}",
                                  u"DisplayVersion"),
              u"4.3.01.11140");
}

TEST_F(InstallationRecordsTest, ALaterStepRunsWhateverTheOneBeforeAchieved) {
    machine().DeleteKey(View::Wow32, kProductKey);
    WriteInstallationRecords(Identified());
    EXPECT_FALSE(machine().KeyExists(View::Wow32, kEntry));
    ASSERT_NE(History(), nullptr);
    const std::string text(History()->bytes.begin(), History()->bytes.end());
    EXPECT_TRUE(text.starts_with("4.3.01.11140\r\nUpdateCount=1\r\n")) << text;
    EXPECT_EQ(machine().GetString(View::Wow32, kAppKey, u"CurrentVersion"), u"4.3.01.11140");
}

}  // namespace
