#include "records/history_file.h"

#include "inspect/product_identity.h"
#include "platform/constants.h"
#include "sim_test.h"

namespace {

using sim::View;

constexpr char16_t kAppKey[] = u"Software\\Halvern Corporation\\Orlin Reelwright\\1.0\\App";
constexpr char16_t kFolder[] = u"C:\\Program Files (x86)\\Halvern\\Orlin Reelwright";
const std::u16string kFile = kFolder + std::u16string(u"\\version.txt");

using Lines = std::vector<std::string>;

// The file as written: every line ends with CR LF.
std::string FileText(const Lines& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    return text;
}

// The four lines of update n at 09:07:03 on 5 March 2026.
Lines Entry(const std::string& n) {
    return {"Updated_" + n + "_Date=2026/3/5 09:07:03",
            "Updated_" + n + "_ProductName=Orlin Reelwright",
            "Updated_" + n + "_Version=4.3.01.11140",
            "Updated_" + n + "_ProductGUID={7E1A4B90-5D3C-4F62-9A17-3B8C0D2E6F41}"};
}

Lines Expected(const Lines& old, const std::string& n) {
    Lines lines = {"4.3.01.11140"};
    lines.insert(lines.end(), old.begin(), old.end());
    const Lines entry = Entry(n);
    lines.insert(lines.end(), entry.begin(), entry.end());
    return lines;
}

class HistoryFileTest : public SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        machine().AddDirectory(kFolder);
        machine().SetString(View::Wow32, kAppKey, u"ApplicationDir", kFolder);
        machine().localTime = {2026, 3, 4, 5, 9, 7, 3, 0};
    }
    void WriteOld(const std::string& text) {
        machine().AddFile(kFile, std::vector<std::uint8_t>(text.begin(), text.end()));
    }
    static void Append() { AppendUpdateHistory(product::kTargetVersion, product::kProductName); }
    std::optional<std::string> Content(const std::u16string& path = kFile) {
        const sim::File* file = machine().FindFile(path);
        if (file == nullptr) return std::nullopt;
        return std::string(file->bytes.begin(), file->bytes.end());
    }
};

TEST_F(HistoryFileTest, TheNewFileHasTheVersionTheOldLinesWithRaisedCountersAndTheEntry) {
    struct Case {
        const char* what;
        std::optional<std::string> old;  // none: no file
        Lines middle;                    // what follows the new version, before the entry
        std::string n;
    };
    const Case cases[] = {
        {"no file", std::nullopt, {"UpdateCount=1"}, "1"},
        {"empty file", "", {"UpdateCount=1"}, "1"},
        {"version and counter", "4.2.0.0\r\nUpdateCount=3\r\n", {"4.2.0.0", "UpdateCount=4"}, "4"},
        {"no digits", "UpdateCount=\r\n", {"UpdateCount=1"}, "1"},
        {"letters", "UpdateCount=abc\r\n", {"UpdateCount=1"}, "1"},
        {"sign alone", "UpdateCount=-\r\n", {"UpdateCount=1"}, "1"},
        {"not the prefix",
         "updatecount=5\r\nUpdateCount =5\r\nUPDATECOUNT=5\r\n UpdateCount=5\r\n",
         {"updatecount=5", "UpdateCount =5", "UPDATECOUNT=5", " UpdateCount=5", "UpdateCount=1"},
         "1"},
        {"two counters",
         "4.2.0.0\r\nUpdateCount=2\r\nUpdated_2_Version=4.2.0.0\r\nUpdateCount=7\r\n",
         {"4.2.0.0", "UpdateCount=3", "Updated_2_Version=4.2.0.0", "UpdateCount=8"},
         "8"},
        {"remark after digits", "UpdateCount=4 was 3\r\n", {"UpdateCount=5"}, "5"},
        {"blanks and plus", "UpdateCount= \t+6\r\n", {"UpdateCount=7"}, "7"},
        {"negative", "UpdateCount=-5\r\n", {"UpdateCount=-4"}, "-4"},
        {"blank lines and no final line end",
         "\r\n\r\n4.2.0.0\n\n\r\nUpdateCount=2\r\n\r\nlast",
         {"4.2.0.0", "UpdateCount=3", "last"},
         "3"},
        {"LF line ends become CR LF", "a\nb\n", {"a", "b", "UpdateCount=1"}, "1"},
        {"bytes above 127 and stray CRs",
         "Caf\xE9 \xFF\x80\r\na\rb\r\ntail\r\r\n\rhead\r\n",
         {"Caf\xE9 \xFF\x80", "a\rb", "tail\r", "\rhead", "UpdateCount=1"},
         "1"},
        {"one below the limit",
         "UpdateCount=2147483646\r\n",
         {"UpdateCount=2147483647"},
         "2147483647"},
        {"at the limit", "UpdateCount=2147483647\r\n", {"UpdateCount=2147483647"}, "2147483647"},
        {"beyond 32 bits", "UpdateCount=2147483648\r\n", {"UpdateCount=2147483647"}, "2147483647"},
        {"far beyond",
         "UpdateCount=99999999999999999999999\r\n",
         {"UpdateCount=2147483647"},
         "2147483647"},
        {"below 32 bits",
         "UpdateCount=-99999999999\r\n",
         {"UpdateCount=-2147483647"},
         "-2147483647"},
        {"a counter after one at the limit",
         "UpdateCount=2147483647\r\nUpdateCount=1\r\n",
         {"UpdateCount=2147483647", "UpdateCount=2"},
         "2"},
    };
    for (const Case& c : cases) {
        sim::ResetMachine();
        SetUp();
        if (c.old) WriteOld(*c.old);
        Append();
        EXPECT_EQ(Content(), FileText(Expected(c.middle, c.n))) << c.what;
    }
}

TEST_F(HistoryFileTest, TheDateLineHasPlainDateNumbersAndTwoDigitTimes) {
    const std::pair<win::SYSTEMTIME, std::string> cases[] = {
        {{2031, 3, 3, 5, 9, 7, 3, 0}, "Updated_2_Date=2031/3/5 09:07:03"},
        {{2026, 12, 5, 11, 23, 59, 9, 999}, "Updated_2_Date=2026/12/11 23:59:09"},
        {{2027, 1, 5, 1, 0, 0, 0, 0}, "Updated_2_Date=2027/1/1 00:00:00"},
    };
    for (const auto& [clock, line] : cases) {
        sim::ResetMachine();
        SetUp();
        machine().localTime = clock;
        WriteOld("UpdateCount=1\r\n");
        Append();
        const std::string text = Content().value_or("");
        EXPECT_NE(text.find("\r\n" + line + "\r\n"), std::string::npos) << text;
        EXPECT_EQ(machine().CountCalls("GetLocalTime"), 1u);
    }
}

TEST_F(HistoryFileTest, ASecondUpdateKeepsTheFirstOnesLines) {
    Append();
    machine().localTime.wYear = 2027;
    AppendUpdateHistory(u"4.3.02.0", product::kProductName);
    Lines expected = {"4.3.02.0", "4.3.01.11140", "UpdateCount=2"};
    for (const std::string& line : Entry("1")) expected.push_back(line);
    expected.insert(expected.end(),
                    {"Updated_2_Date=2027/3/5 09:07:03", "Updated_2_ProductName=Orlin Reelwright",
                     "Updated_2_Version=4.3.02.0",
                     "Updated_2_ProductGUID={7E1A4B90-5D3C-4F62-9A17-3B8C0D2E6F41}"});
    EXPECT_EQ(Content(), FileText(expected));
}

TEST_F(HistoryFileTest, ReadingSkipsEmptyLinesAndStopsAtAReadError) {
    EXPECT_EQ(ReadHistoryLines(kFile), Lines{});
    EXPECT_EQ(ReadHistoryLines(u"C:\\Missing\\version.txt"), Lines{});

    WriteOld("\r\none\r\n\ntwo\r\n\r\n");
    EXPECT_EQ(ReadHistoryLines(kFile), (Lines{"one", "two"}));

    // A file larger than any one read, failing on its second read.
    std::string big;
    Lines all;
    for (int i = 0; i < 4000; ++i) {
        all.push_back("line " + std::to_string(i));
        big += all.back() + "\r\n";
    }
    WriteOld(big);
    ASSERT_EQ(ReadHistoryLines(kFile), all);
    machine().Fail("ReadFile", win::ERROR_ACCESS_DENIED,
                   static_cast<int>(machine().CountCalls("ReadFile")) + 2);
    const Lines partial = ReadHistoryLines(kFile);
    EXPECT_FALSE(partial.empty());
    EXPECT_LT(partial.size(), all.size());
    EXPECT_EQ(partial, Lines(all.begin(), all.begin() + partial.size()));

    machine().Fail("ReadFile", win::ERROR_ACCESS_DENIED);
    EXPECT_EQ(ReadHistoryLines(kFile), Lines{});
}

TEST_F(HistoryFileTest, ReadingLetsOthersWriteButRewritingSharesWithNobody) {
    WriteOld("UpdateCount=3\r\n");
    // Another program has the file open for writing and lets others read and write it.
    machine().HoldFileElsewhere(kFile, win::GENERIC_WRITE,
                                win::FILE_SHARE_READ | win::FILE_SHARE_WRITE);
    EXPECT_EQ(ReadHistoryLines(kFile), Lines{"UpdateCount=3"});
    machine().ReleaseFile(kFile);

    // Another program reads it, sharing everything: the rewrite cannot open it.
    machine().HoldFileElsewhere(
        kFile, win::GENERIC_READ,
        win::FILE_SHARE_READ | win::FILE_SHARE_WRITE | win::FILE_SHARE_DELETE);
    EXPECT_FALSE(WriteHistoryFile(kFile, {"UpdateCount=3"}, u"4.3.01.11140", u"Orlin Reelwright"));
    Append();
    EXPECT_EQ(Content(), "UpdateCount=3\r\n");
    machine().ReleaseFile(kFile);

    Append();
    EXPECT_EQ(Content(), FileText(Expected({"UpdateCount=4"}, "4")));
}

// The folder text is taken as it is: one with a final backslash gives a doubled separator,
// which names the same file.
TEST_F(HistoryFileTest, AFolderWithAFinalBackslashFindsTheSameFile) {
    WriteOld("4.2.0.0\r\nUpdateCount=3\r\n");
    machine().SetString(View::Wow32, kAppKey, u"ApplicationDir", kFolder + std::u16string(u"\\"));
    Append();
    EXPECT_EQ(Content(), FileText(Expected({"4.2.0.0", "UpdateCount=4"}, "4")));
}

TEST_F(HistoryFileTest, AFileThatCannotBeCreatedLeavesEverythingAsItWas) {
    machine().SetString(View::Wow32, kAppKey, u"ApplicationDir", u"C:\\Gone");
    Append();
    EXPECT_FALSE(Content(u"C:\\Gone\\version.txt"));
    EXPECT_FALSE(
        WriteHistoryFile(u"C:\\Gone\\version.txt", {}, u"4.3.01.11140", u"Orlin Reelwright"));

    // Without a registered folder no file is touched at all.
    machine().SetString(View::Wow32, kAppKey, u"ApplicationDir", u"");
    const std::size_t opens = machine().CountCalls("CreateFileW");
    Append();
    EXPECT_EQ(machine().CountCalls("CreateFileW"), opens);
}

TEST_F(HistoryFileTest, AFailedWriteIsIgnoredAndTheFileIsClosed) {
    WriteOld("UpdateCount=3\r\n");
    machine().Fail("WriteFile", win::ERROR_ACCESS_DENIED, 1);
    EXPECT_TRUE(
        WriteHistoryFile(kFile, ReadHistoryLines(kFile), u"4.3.01.11140", u"Orlin Reelwright"));
    // Closed: the next run opens it without sharing again.
    Append();
    EXPECT_TRUE(Content().value_or("").starts_with("4.3.01.11140\r\nUpdateCount=1\r\n"));
}

TEST_F(HistoryFileTest, WritingTakesTheGivenLinesLeavingOutEmptyOnes) {
    EXPECT_TRUE(
        WriteHistoryFile(kFile, {"a", "", "UpdateCount=9"}, u"4.3.01.11140", u"Orlin Reelwright"));
    EXPECT_EQ(Content(), FileText(Expected({"a", "UpdateCount=10"}, "10")));
}

}  // namespace
