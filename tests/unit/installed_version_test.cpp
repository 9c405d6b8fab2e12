#include "inspect/installed_version.h"

#include "sim_test.h"

namespace {

using sim::View;

constexpr char16_t kUninstall[] =
    u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
    u"InstallShield_{7E1A4B90-5D3C-4F62-9A17-3B8C0D2E6F41}";
constexpr char16_t kAppDb[] =
    u"Software\\Halvern Corporation\\Shared Info\\AppDB\\Orlin Reelwright";

class InstalledVersionTest : public SimTest {};

TEST_F(InstalledVersionTest, BothRecordsAreReadByTheReadRule) {
    EXPECT_EQ(ReadDisplayVersion(), u"");
    EXPECT_EQ(ReadAppDbVersion(), u"");
    machine().SetString(View::Wow64, kUninstall, u"DisplayVersion", u"4.2.0.0");
    machine().SetString(View::Wow64, kAppDb, u"version", u"4.1.0.0");
    EXPECT_EQ(ReadDisplayVersion(), u"4.2.0.0");
    EXPECT_EQ(ReadAppDbVersion(), u"4.1.0.0");
    machine().SetString(View::Wow32, kUninstall, u"DisplayVersion", u"4.3.0.0");
    EXPECT_EQ(ReadDisplayVersion(), u"4.3.0.0");
}

TEST_F(InstalledVersionTest, TheGateAcceptsItsRangeAndKnowsThisUpdatesVersion) {
    struct Case {
        std::u16string version;
        bool applicable, target;
    };
    const Case cases[] = {
        {u"4.2.0.0", true, false},      {u"4.3.0.11000", true, false},
        {u"4.2.5.1", true, false},      {u"4.3.0.11001", false, false},
        {u"4.1.9.99999", false, false}, {u"4.3.1.0", false, false},
        {u"4.3", false, false},         {u"4.3.01.11140", false, true},
        {u"4.3.1.11140", false, true},  {u"", false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsApplicableVersion(c.version), c.applicable) << sim::Narrow(c.version);
        EXPECT_EQ(IsTargetVersion(c.version), c.target) << sim::Narrow(c.version);
    }
}

}  // namespace
