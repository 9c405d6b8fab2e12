#include "inspect/version_values.h"

#include "platform/constants.h"
#include "sim_test.h"

namespace {

TEST(ParseVersionText, ReadsPartsAsWcstolWould) {
    struct Case {
        std::u16string text;
        std::array<std::int32_t, 4> parts;
    };
    const Case cases[] = {
        {u"4.3.01.11140", {4, 3, 1, 11140}},
        {u"4.3", {4, 3, 3, 3}},  // without a dot the rest stays for the later parts
        {u"", {0, 0, 0, 0}},
        {u"4.3.0.11140.9", {4, 3, 0, 11140}},
        {u" -1.+2. 3x.4", {-1, 2, 3, 4}},
        {u"99999999999.-99999999999.1.2", {2147483647, -2147483647 - 1, 1, 2}},
        {u"abc", {0, 0, 0, 0}},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseVersionText(c.text), c.parts) << sim::Narrow(c.text);
}

TEST(VersionTextBounds, CompareSignedPartsWithBothEndsInside) {
    struct Case {
        std::u16string text;
        VersionQuad bound;
        bool atLeast, atMost;
    };
    const Case cases[] = {
        {u"4.2.0.0", {4, 2, 0, 0}, true, true},
        {u"4.3.0.11000", {4, 3, 0, 11000}, true, true},
        {u"4.3.0.11001", {4, 3, 0, 11000}, true, false},
        {u"4.3.01.11140", {4, 3, 0, 11000}, true, false},
        {u"4.3.0.70000", {4, 3, 0, 11000}, true, false},  // above 65535 is not wrapped
        {u"4.1.9.9999", {4, 2, 0, 0}, false, true},
        {u"-1.0.0.0", {0, 0, 0, 0}, false, true},
        {u"4.3", {4, 3, 3, 3}, true, true},
        {u"no digits", {0, 0, 0, 0}, true, true},
        {u"", {0, 0, 0, 0}, false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(VersionAtLeast(c.text, c.bound), c.atLeast) << sim::Narrow(c.text);
        EXPECT_EQ(VersionAtMost(c.text, c.bound), c.atMost) << sim::Narrow(c.text);
    }
}

TEST(SameVersionText, ComparesParsedParts) {
    EXPECT_TRUE(SameVersionText(u"4.3.01.11140", u"4.3.1.11140"));
    EXPECT_TRUE(SameVersionText(u"4.3", u"4.3.3.3"));
    EXPECT_FALSE(SameVersionText(u"4.3.01.11140", u"4.3.1.11141"));
    EXPECT_FALSE(SameVersionText(u"", u""));
    EXPECT_FALSE(SameVersionText(u"0.0.0.0", u""));
}

TEST(InVersionRange, ComparesUnsignedPartsMostSignificantFirst) {
    const VersionQuad zero{}, high{4, 3, 0, 11000};
    EXPECT_TRUE(InVersionRange({4, 3, 0, 11000}, zero, high));
    EXPECT_TRUE(InVersionRange(zero, zero, high));
    EXPECT_TRUE(InVersionRange({4, 3, 0, 9999}, zero, high));
    EXPECT_FALSE(InVersionRange({4, 3, 0, 11001}, zero, high));
    EXPECT_FALSE(InVersionRange({4, 3, 1, 0}, zero, high));
    EXPECT_FALSE(InVersionRange({65535, 0, 0, 0}, zero, {4, 3, 0, 0}));
}

class ReadFileVersionTest : public SimTest {};

TEST_F(ReadFileVersionTest, ReadsTheFixedFileVersionOfAPeFile) {
    machine().AddFile(u"C:\\P\\A.dll", ReadFixture("library_4.3.0.11001.dll"));
    EXPECT_EQ(ReadFileVersion(u"C:\\P\\A.dll"), (VersionQuad{4, 3, 0, 11001}));
}

TEST_F(ReadFileVersionTest, AnythingWithoutAReadableVersionIsNoVersion) {
    machine().AddFile(u"C:\\P\\plain.dll", ReadFixture("library_unversioned.dll"));
    machine().AddFile(u"C:\\P\\short.dll", ReadFixture("library_short_version.dll"));
    machine().AddFile(u"C:\\P\\notes.txt", {'h', 'i'});
    machine().AddDirectory(u"C:\\P\\folder.dll");
    for (const char16_t* path : {u"C:\\P\\plain.dll", u"C:\\P\\short.dll", u"C:\\P\\notes.txt",
                                 u"C:\\P\\folder.dll", u"C:\\P\\missing.dll", u""}) {
        EXPECT_EQ(ReadFileVersion(path), std::nullopt) << sim::Narrow(path);
    }
}

TEST_F(ReadFileVersionTest, FailingVersionCallsGiveNoVersion) {
    machine().AddFile(u"C:\\P\\A.dll", ReadFixture("library_4.2.0.500.dll"));
    for (const char* call : {"GetFileVersionInfoSizeW", "GetFileVersionInfoW", "VerQueryValueW"}) {
        sim::ResetMachine();
        machine().AddFile(u"C:\\P\\A.dll", ReadFixture("library_4.2.0.500.dll"));
        machine().Fail(call, win::ERROR_ACCESS_DENIED);
        EXPECT_EQ(ReadFileVersion(u"C:\\P\\A.dll"), std::nullopt) << call;
    }
}

}  // namespace
