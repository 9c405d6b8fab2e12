#include "run/message_catalogue.h"

#include <algorithm>

#include "platform/constants.h"
#include "sim_test.h"

namespace {

constexpr win::LANGID kLanguages[] = {1028, 1031, 1033, 1036, 1040, 1041, 1042,
                                      1043, 1045, 1046, 1049, 2052, 3082};
constexpr std::uint16_t kIds[] = {200,  201,  1200, 1201, 1202, 1203, 1210, 1211, 1212, 1213, 1214,
                                  1215, 1216, 1217, 1218, 1219, 1220, 1230, 1240, 1241, 1242};

class MessageCatalogueTest : public SimTest {};

TEST_F(MessageCatalogueTest, EnglishTextsAreExactlyTheCatalogues) {
    const std::pair<std::uint16_t, std::u16string> texts[] = {
        {200, u"Orlin Reelwright Update Program"},
        {1201, u"Another instance of this update program is already running."},
        {1202, u"There is no target model for this program."},
        {1203, u"There is no need to update the program."},
        {1210, u"Update completed successfully."},
        {1213, u"Package Update Failed.\r\n(code = 0x%08x)"},
        {1215,
         u"Cannot install because related programs are running.\nExit all programs, and try "
         u"again."},
        {1216, u"The operating system is not adequate for running Orlin Reelwright."},
        {1217,
         u"No software version applicable to this update is installed. The update will be "
         u"cancelled."},
        {1218,
         u"The version of Orlin Reelwright already installed on the computer is the same "
         u"version.\nThe program will quit."},
        {1219, u"You must be logged on with a computer administrator account to run this program."},
        {1230, u"Now processing...\nPlease wait for a while."},
    };
    for (const auto& [id, text] : texts) EXPECT_EQ(LoadMessage(id), text) << id;
}

TEST_F(MessageCatalogueTest, EveryLanguageCarriesEveryIdWithTheEnglishLineStructure) {
    auto lineBreaks = [](const std::u16string& s) {
        return std::make_pair(std::count(s.begin(), s.end(), u'\n'),
                              std::count(s.begin(), s.end(), u'\r'));
    };
    for (const std::uint16_t id : kIds) {
        machine().uiLanguage = 1033;
        const std::u16string english = LoadMessage(id);
        ASSERT_FALSE(english.empty()) << id;
        for (const win::LANGID language : kLanguages) {
            machine().uiLanguage = language;
            const std::u16string text = LoadMessage(id);
            EXPECT_FALSE(text.empty()) << id << " in " << language;
            EXPECT_EQ(lineBreaks(text), lineBreaks(english)) << id << " in " << language;
            if (language != 1033 && id != 200) {
                EXPECT_NE(text, english) << id << " in " << language;
            }
        }
    }
}

TEST_F(MessageCatalogueTest, TheFailureCodeIsShownAsEightLowerCaseDigitsInEveryLanguage) {
    EXPECT_EQ(FormatMessageWithCode(1213, 0x8007000Eu),
              u"Package Update Failed.\r\n(code = 0x8007000e)");
    EXPECT_EQ(FormatMessageWithCode(1213, 0x80004005u),
              u"Package Update Failed.\r\n(code = 0x80004005)");
    EXPECT_EQ(FormatMessageWithCode(1213, 0x5u), u"Package Update Failed.\r\n(code = 0x00000005)");
    for (const win::LANGID language : kLanguages) {
        machine().uiLanguage = language;
        const std::u16string raw = LoadMessage(1213);
        const std::u16string formatted = FormatMessageWithCode(1213, 0x8007000Eu);
        EXPECT_EQ(raw.find(u"%08x"), raw.rfind(u"%08x")) << language;
        EXPECT_NE(formatted.find(u"8007000e"), std::u16string::npos) << language;
        EXPECT_EQ(formatted.find(u'%'), std::u16string::npos) << language;
    }
}

TEST_F(MessageCatalogueTest, AnAbsentIdIsAnEmptyText) {
    for (std::uint16_t id : {0, 199, 202, 1204, 1243, 4000}) EXPECT_EQ(LoadMessage(id), u"") << id;
    machine().Fail("FindResourceExW", win::ERROR_RESOURCE_NAME_NOT_FOUND);
    EXPECT_EQ(LoadMessage(200), u"");
}

TEST_F(MessageCatalogueTest, TheLoaderFallsBackByPrimaryLanguageThenToEnglish) {
    machine().uiLanguage = 1031;
    const std::u16string german = LoadMessage(1217);
    machine().uiLanguage = 2055;  // German (Switzerland)
    EXPECT_EQ(LoadMessage(1217), german);
    machine().uiLanguage = 1053;  // Swedish: not carried
    EXPECT_EQ(LoadMessage(1217),
              u"No software version applicable to this update is installed. The update will be "
              u"cancelled.");
}

}  // namespace
