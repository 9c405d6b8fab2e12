#include "records/product_registration.h"

#include <cstdlib>

#include "platform/constants.h"
#include "sim_test.h"

namespace {

using sim::View;

constexpr char16_t kVersion[] = u"4.3.01.11140";
constexpr char16_t kAppKey[] = u"Software\\Halvern Corporation\\Orlin Reelwright\\1.0\\App";
constexpr char16_t kHelpKey[] = u"Software\\Halvern Corporation\\Orlin Creation Help\\1.0";
const std::u16string kTemplates = u"Software\\Halvern Corporation\\Orlin Reelwright Template Data";
constexpr char16_t kUninstall[] =
    u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
    u"InstallShield_{7E1A4B90-5D3C-4F62-9A17-3B8C0D2E6F41}";
constexpr char16_t kExtension[] = u"HKCR\\.orw-xml";
constexpr char16_t kProgramType[] = u"HKCR\\HalvernReelwrightProject";
constexpr char16_t kProtocol[] = u"HKCR\\halvern-orlin-reelwright";
constexpr char16_t kCommand[] = u"HKCR\\halvern-orlin-reelwright\\shell\\open\\command";
constexpr char16_t kIcon[] = u"HKCR\\halvern-orlin-reelwright\\DefaultIcon";
constexpr char16_t kExe[] = u"C:\\Program Files (x86)\\Halvern\\Orlin Reelwright\\Reelwright.exe";

std::u16string operator/(const std::u16string& path, const std::u16string& child) {
    return path + u"\\" + child;
}

// What the product's setup left; every part can be left out.
struct Product {
    bool appKey = true;
    std::optional<std::u16string> currentVersion = u"4.2.0.0";
    std::optional<std::u16string> appPath = kExe;
    bool helpKey = true;
    bool templates = true;
    bool programType = true;
    bool uninstallKey = true;
    win::SYSTEMTIME clock = {2026, 3, 4, 5, 9, 7, 3, 0};  // 5 March, 09:07:03
};

class ProductRegistrationTest : public SimTest {
  protected:
    void Stage(const Product& p) {
        machine().localTime = p.clock;
        if (p.appKey) {
            machine().CreateKey(View::Wow32, kAppKey);
            machine().SetString(View::Wow32, kAppKey, u"ApplicationDir", u"C:\\Apps\\Orlin");
            if (p.currentVersion)
                machine().SetString(View::Wow32, kAppKey, u"CurrentVersion", *p.currentVersion);
            if (p.appPath)
                machine().SetString(View::Wow32, kAppKey, u"ApplicationPath", *p.appPath);
        }
        if (p.helpKey) machine().SetString(View::Wow32, kHelpKey, u"Version", u"4.2.0.0");
        if (p.templates) {
            // Markers of older versions, one with a subtree of its own.
            const std::u16string old2d = kTemplates / u"2D" / u"4.2.0.0";
            machine().SetString(View::Wow32, old2d, u"Installed", u"yes");
            machine().SetString(View::Wow32, old2d / u"Presets" / u"Deeper", u"V", u"x");
            machine().SetString(View::Wow32, old2d / u"Presets", u"V", u"x");
            machine().CreateKey(View::Wow32, kTemplates / u"2D" / u"4.1.0.0");
            machine().SetString(View::Wow32, kTemplates / u"3D" / u"4.2.0.0", u"V", u"x");
            machine().SetString(View::Wow32, kTemplates, u"Kept", u"yes");
        }
        if (p.programType) {
            machine().SetString(View::Default, kProgramType, u"FriendlyTypeName", u"kept");
            machine().CreateKey(View::Default, kProgramType + std::u16string(u"\\shell"));
        }
        if (p.uninstallKey)
            machine().SetString(View::Wow32, kUninstall, u"DisplayVersion", u"4.2.0.0");
    }
    void Run(const Product& p = {}) {
        Stage(p);
        UpdateProductRegistration(kVersion);
    }
    // Runs the step on a fresh machine with the call failing whose arguments hold the text.
    void RunFailing(const std::string& function, const std::string& text, const Product& p = {}) {
        Run(p);
        int occurrence = 0;
        const auto calls = machine().CallsTo(function);
        for (std::size_t i = 0; i < calls.size() && occurrence == 0; ++i) {
            if (calls[i].arguments.find(text) != std::string::npos)
                occurrence = static_cast<int>(i) + 1;
        }
        ASSERT_NE(occurrence, 0) << "no " << function << " with " << text;
        sim::ResetMachine();
        machine().Fail(function, win::ERROR_ACCESS_DENIED, occurrence);
        Run(p);
    }

    std::optional<std::u16string> Text(const std::u16string& path, const char16_t* name,
                                       View view = View::Wow32) {
        return machine().GetString(view, path, name);
    }
    sim::RegKeyPtr Key(const std::u16string& path, View view = View::Wow32) {
        if (path.starts_with(u"HKCR\\"))
            return machine().Resolve(machine().classes, false, view, path.substr(5), false);
        return machine().Resolve(machine().hklm, true, view, path, false);
    }
    std::vector<std::u16string> Subkeys(const std::u16string& path, View view = View::Wow32) {
        std::vector<std::u16string> names;
        if (const sim::RegKeyPtr key = Key(path, view)) {
            for (const auto& [name, child] : key->subkeys) names.push_back(name);
        }
        return names;
    }
    // (value name, data size) of every value write, in order.
    std::vector<std::pair<std::string, unsigned long>> Writes() {
        std::vector<std::pair<std::string, unsigned long>> writes;
        for (const sim::CallRecord& call : machine().CallsTo("RegSetValueExW")) {
            const std::size_t open = call.arguments.find('"');
            const std::size_t close = call.arguments.find('"', open + 1);
            const std::string size = call.arguments.substr(call.arguments.rfind(' ') + 1);
            writes.emplace_back(call.arguments.substr(open + 1, close - open - 1),
                                std::strtoul(size.c_str(), nullptr, 16));
        }
        return writes;
    }
    // (path, access mask) of the opens of the product's own keys, in order.
    std::vector<std::pair<std::string, std::string>> ProductKeyOpens() {
        const std::string keys[] = {"1.0\\App\"", "Help\\1.0\"", "Template Data\"",
                                    "\"HalvernReelwrightProject\"", "F41}\""};
        std::vector<std::pair<std::string, std::string>> opens;
        for (const sim::CallRecord& call : machine().CallsTo("RegOpenKeyExW")) {
            for (const std::string& key : keys) {
                if (call.arguments.find(key) != std::string::npos)
                    opens.emplace_back(key, call.arguments.substr(call.arguments.rfind(' ') + 1));
            }
        }
        return opens;
    }
    void ExpectLaterStepsRan(const std::string& what) {
        EXPECT_EQ(Text(kUninstall, u"DisplayVersion"), kVersion) << what;
        EXPECT_EQ(Text(kUninstall, u"InstallDate"), u"20260305") << what;
    }
};

TEST_F(ProductRegistrationTest, EveryRecordIsBroughtToTheNewVersion) {
    Run();
    struct Row {
        std::u16string path;
        const char16_t* name;
        std::u16string data;
    };
    const Row rows[] = {
        {kAppKey, u"OriginalVersion", u"4.2.0.0"},
        {kAppKey, u"CurrentVersion", kVersion},
        {kHelpKey, u"Version", kVersion},
        {kExtension, u"", u"HalvernReelwrightProject"},
        {kProgramType, u"", u"Orlin Reelwright Project File"},
        {kProtocol, u"URL Protocol", u""},
        {kProtocol, u"", u"Orlin Reelwright"},
        {kCommand, u"", u"\"" + std::u16string(kExe) + u"\" \"%1\""},
        {kIcon, u"", kExe + std::u16string(u",0")},
        {kUninstall, u"DisplayVersion", kVersion},
        {kUninstall, u"InstallDate", u"20260305"},
    };
    for (const Row& row : rows) {
        const auto value = machine().GetValue(View::Wow32, row.path, row.name);
        ASSERT_TRUE(value) << sim::Narrow(row.path) << " " << sim::Narrow(row.name);
        EXPECT_EQ(value->type, win::REG_SZ);
        EXPECT_EQ(Text(row.path, row.name), row.data) << sim::Narrow(row.name);
        EXPECT_EQ(value->data.size(), 2 * (row.data.size() + 1)) << sim::Narrow(row.name);
    }
    // The order of the writes, each with its NUL counted.
    std::vector<std::pair<std::string, unsigned long>> order;
    for (const Row& row : rows)
        order.emplace_back(sim::Narrow(row.name), 2 * (row.data.size() + 1));
    EXPECT_EQ(Writes(), order);
    // What the setup left beside the values is untouched.
    EXPECT_EQ(Text(kProgramType, u"FriendlyTypeName"), u"kept");
    EXPECT_EQ(Subkeys(kProgramType), std::vector<std::u16string>{u"shell"});
    EXPECT_EQ(Text(kAppKey, u"ApplicationDir"), u"C:\\Apps\\Orlin");
}

TEST_F(ProductRegistrationTest, WritesUseThe32BitViewOnA64BitProcessorAndCreatesNoViewFlag) {
    struct Case {
        win::DWORD processor;
        std::string read, write;
    };
    for (const Case& c : {Case{win::PROCESSOR_AMD_X8664, "0x20219", "0x20206"},
                          Case{win::PROCESSOR_INTEL_IA64, "0x20219", "0x20206"},
                          Case{win::PROCESSOR_INTEL_PENTIUM, "0x20019", "0x20006"}}) {
        sim::ResetMachine();
        machine().processorType = c.processor;
        Run();
        const std::vector<std::pair<std::string, std::string>> opens = {
            {"1.0\\App\"", c.read},
            {"1.0\\App\"", c.write},
            {"Help\\1.0\"", c.write},
            {"Template Data\"", c.write},
            {"\"HalvernReelwrightProject\"", c.write},
            {"1.0\\App\"", c.read},
            {"F41}\"", c.write},
        };
        EXPECT_EQ(ProductKeyOpens(), opens) << c.processor;
        for (const sim::CallRecord& call : machine().CallsTo("RegCreateKeyExW"))
            EXPECT_TRUE(call.arguments.ends_with(" 0x2001f")) << call.arguments;
        EXPECT_EQ(Text(kAppKey, u"CurrentVersion"), kVersion) << c.processor;
        ExpectLaterStepsRan(std::to_string(c.processor));
    }
    // The records of the 64-bit view are not the 32-bit program's.
    sim::ResetMachine();
    machine().SetString(View::Wow64, kUninstall, u"DisplayVersion", u"4.2.0.0");
    machine().SetString(View::Wow64, kAppKey, u"CurrentVersion", u"4.2.0.0");
    UpdateProductRegistration(kVersion);
    EXPECT_EQ(Text(kUninstall, u"DisplayVersion", View::Wow64), u"4.2.0.0");
    EXPECT_EQ(Text(kAppKey, u"CurrentVersion", View::Wow64), u"4.2.0.0");
    EXPECT_FALSE(Text(kAppKey, u"OriginalVersion", View::Wow64));
}

TEST_F(ProductRegistrationTest, AnApplicationPathThatCannotBeReadLeavesThePathPartEmpty) {
    Product noAppKey;
    noAppKey.appKey = false;
    Product noPathValue;
    noPathValue.appPath.reset();
    for (const auto& [what, product] :
         {std::pair{"no App key", noAppKey}, std::pair{"no ApplicationPath", noPathValue}}) {
        sim::ResetMachine();
        Run(product);
        EXPECT_EQ(Text(kCommand, u""), u"\"\" \"%1\"") << what;
        EXPECT_EQ(Text(kIcon, u""), u",0") << what;
        EXPECT_EQ(Text(kHelpKey, u"Version"), kVersion) << what;
        ExpectLaterStepsRan(what);
        // Without the App key its values are lost, and the key is not made.
        if (!product.appKey) {
            EXPECT_FALSE(Key(kAppKey));
        }
    }
}

TEST_F(ProductRegistrationTest, TheOldCurrentVersionMovesToOriginalVersionOnEveryRun) {
    Run();
    EXPECT_EQ(Text(kAppKey, u"OriginalVersion"), u"4.2.0.0");
    UpdateProductRegistration(kVersion);
    EXPECT_EQ(Text(kAppKey, u"OriginalVersion"), kVersion);
    EXPECT_EQ(Text(kAppKey, u"CurrentVersion"), kVersion);

    // Without a current version an earlier OriginalVersion keeps its data.
    sim::ResetMachine();
    Product product;
    product.currentVersion.reset();
    machine().SetString(View::Wow32, kAppKey, u"OriginalVersion", u"4.0.0.0");
    Run(product);
    EXPECT_EQ(Text(kAppKey, u"OriginalVersion"), u"4.0.0.0");
    EXPECT_EQ(Text(kAppKey, u"CurrentVersion"), kVersion);
}

TEST_F(ProductRegistrationTest, TemplateMarkersAreReplacedByOneEmptyKeyForTheNewVersion) {
    struct Case {
        const char* what;
        bool templates;
        std::optional<std::u16string> extraOld;  // another marker below 2D and 3D
    };
    for (const Case& c : {Case{"old markers with subtrees", true, u"4.2.5.0\\A\\B"},
                          Case{"no 2D or 3D yet", false, std::nullopt}}) {
        sim::ResetMachine();
        Product product;
        product.templates = c.templates;
        if (!c.templates) machine().SetString(View::Wow32, kTemplates, u"Kept", u"yes");
        if (c.extraOld) {
            machine().SetString(View::Wow32, kTemplates / u"2D" / *c.extraOld, u"V", u"x");
            machine().SetString(View::Wow32, kTemplates / u"3D" / *c.extraOld, u"V", u"x");
        }
        // A 64-bit program's template data is not this program's to change.
        machine().CreateKey(View::Wow64, kTemplates / u"2D" / u"4.2.0.0");
        Run(product);
        for (const char16_t* branch : {u"2D", u"3D"}) {
            EXPECT_EQ(Subkeys(kTemplates / branch), std::vector<std::u16string>{kVersion})
                << c.what;
            const sim::RegKeyPtr marker = Key(kTemplates / branch / kVersion);
            ASSERT_TRUE(marker) << c.what;
            EXPECT_TRUE(marker->values.empty()) << c.what;
            EXPECT_TRUE(marker->subkeys.empty()) << c.what;
            EXPECT_TRUE(Key(kTemplates / branch)->values.empty()) << c.what;
        }
        EXPECT_EQ(Text(kTemplates, u"Kept"), u"yes") << c.what;
        EXPECT_EQ(Subkeys(kTemplates / u"2D", View::Wow64),
                  std::vector<std::u16string>{u"4.2.0.0"});
        ExpectLaterStepsRan(c.what);
    }

    sim::ResetMachine();
    Product product;
    product.templates = false;
    Run(product);
    EXPECT_FALSE(Key(kTemplates));
    ExpectLaterStepsRan("no template key");
}

TEST_F(ProductRegistrationTest, AMissingProgramTypeIsNamedButNotCreated) {
    Product product;
    product.programType = false;
    Run(product);
    EXPECT_EQ(Text(kExtension, u""), u"HalvernReelwrightProject");
    EXPECT_FALSE(machine().KeyExists(View::Default, kProgramType));
    ExpectLaterStepsRan("no program type");
}

TEST_F(ProductRegistrationTest, AProtocolLevelThatCannotBeCreatedLosesOnlyWhatIsBelowIt) {
    struct Case {
        std::string failing;  // the created key
        std::vector<std::u16string> protocolKeys, shellKeys;
        bool command, icon;
    };
    const Case cases[] = {
        {"\"shell\"", {u"DefaultIcon"}, {}, false, true},
        {"\"open\"", {u"DefaultIcon", u"shell"}, {}, false, true},
        {"\"command\"", {u"DefaultIcon", u"shell"}, {u"open"}, false, true},
        {"\"DefaultIcon\"", {u"shell"}, {u"open"}, true, false},
    };
    for (const Case& c : cases) {
        sim::ResetMachine();
        RunFailing("RegCreateKeyExW", c.failing);
        EXPECT_EQ(Subkeys(kProtocol), c.protocolKeys) << c.failing;
        EXPECT_EQ(Text(kCommand, u"").has_value(), c.command) << c.failing;
        EXPECT_EQ(Subkeys(kProtocol + std::u16string(u"\\shell")), c.shellKeys) << c.failing;
        EXPECT_EQ(Text(kIcon, u"").has_value(), c.icon) << c.failing;
        EXPECT_EQ(Text(kProtocol, u"URL Protocol"), u"") << c.failing;
        ExpectLaterStepsRan(c.failing);
    }
    sim::ResetMachine();
    RunFailing("RegCreateKeyExW", "\"halvern-orlin-reelwright\"");
    EXPECT_FALSE(machine().KeyExists(View::Default, kProtocol));
    ExpectLaterStepsRan("no protocol key");
    // A key that does not open for writing loses its own values only.
    sim::ResetMachine();
    RunFailing("RegOpenKeyExW", "Help\\1.0\"");
    EXPECT_EQ(Text(kHelpKey, u"Version"), u"4.2.0.0");
    EXPECT_EQ(Text(kAppKey, u"CurrentVersion"), kVersion);
    ExpectLaterStepsRan("help key");
}

TEST_F(ProductRegistrationTest, TheInstallDateFollowsOnlyASuccessfulDisplayVersion) {
    Product product;
    product.uninstallKey = false;
    Run(product);
    EXPECT_FALSE(Key(kUninstall));
    EXPECT_FALSE(Key(kUninstall, View::Wow64));

    sim::ResetMachine();
    RunFailing("RegSetValueExW", "\"DisplayVersion\"");
    EXPECT_EQ(Text(kUninstall, u"DisplayVersion"), u"4.2.0.0");
    EXPECT_FALSE(Text(kUninstall, u"InstallDate"));
    EXPECT_EQ(Writes().back().first, "DisplayVersion");

    // Any other failed write is ignored.
    sim::ResetMachine();
    RunFailing("RegSetValueExW", "\"OriginalVersion\"");
    EXPECT_EQ(Text(kAppKey, u"CurrentVersion"), kVersion);
    ExpectLaterStepsRan("OriginalVersion write");
}

TEST_F(ProductRegistrationTest, TheInstallDateHasTwoDigitMonthAndDay) {
    const std::pair<win::SYSTEMTIME, std::u16string> cases[] = {
        {{2026, 3, 4, 5, 9, 7, 3, 0}, u"20260305"},
        {{2026, 12, 5, 11, 23, 59, 59, 999}, u"20261211"},
        {{1999, 1, 5, 1, 0, 0, 0, 0}, u"19990101"},
    };
    for (const auto& [clock, date] : cases) {
        sim::ResetMachine();
        Product product;
        product.clock = clock;
        Run(product);
        EXPECT_EQ(Text(kUninstall, u"InstallDate"), date);
    }
    EXPECT_EQ(machine().CountCalls("GetLocalTime"), 1u);
}

TEST_F(ProductRegistrationTest, AnEmptyVersionWritesNoVersionValues) {
    Stage({});
    UpdateProductRegistration(u"");
    EXPECT_EQ(Text(kAppKey, u"OriginalVersion"), u"4.2.0.0");
    EXPECT_EQ(Text(kAppKey, u"CurrentVersion"), u"4.2.0.0");
    EXPECT_EQ(Text(kHelpKey, u"Version"), u"4.2.0.0");
    EXPECT_EQ(Text(kUninstall, u"DisplayVersion"), u"4.2.0.0");
    EXPECT_FALSE(Text(kUninstall, u"InstallDate"));
    EXPECT_EQ(Text(kExtension, u""), u"HalvernReelwrightProject");
}

}  // namespace
