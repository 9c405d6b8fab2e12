// Registry behaviours the program relies on.
#include "contract_test.h"
#include "inspect/reg_key.h"
#include "platform/constants.h"
#include "run/preflight_checks.h"

namespace {

constexpr char16_t kRoot[] = u"Software\\ReelwrightUpdateContract";
constexpr win::REGSAM kAll = win::KEY_READ | win::KEY_WRITE;
constexpr char16_t kClassesKey[] = u".reelwright-update-contract";

class RegistryContract : public ContractTest {
  protected:
    void TearDown() override {
        for (const win::REGSAM view : {win::KEY_WOW64_32KEY, win::KEY_WOW64_64KEY}) {
            CRegKeyEx software;
            if (software.Open(win::HKEY_LOCAL_MACHINE, u"Software", kAll | view) == 0)
                software.DeleteTree(u"ReelwrightUpdateContract");
        }
        win::RegDeleteKeyW(win::HKEY_CLASSES_ROOT, kClassesKey);
    }
    static std::u16string Path(const std::u16string& child) {
        return std::u16string(kRoot) + u"\\" + child;
    }

    // Value V of a key below ours, created through a parent opened in the 64-bit view.
    static void SetIn64BitView(const std::u16string& child, const char16_t* value) {
        CRegKeyEx software, key;
        ASSERT_EQ(software.Open(win::HKEY_LOCAL_MACHINE, u"Software", kAll | win::KEY_WOW64_64KEY),
                  0);
        ASSERT_EQ(key.Create(software.handle(), (u"ReelwrightUpdateContract\\" + child).c_str()),
                  0);
        ASSERT_EQ(key.SetString(u"V", value), 0);
    }
    static win::LONG Exists(const std::u16string& path, win::REGSAM view) {
        CRegKeyEx key;
        return key.Open(win::HKEY_LOCAL_MACHINE, path.c_str(), win::KEY_READ | view);
    }
    static void SetRaw(const std::u16string& path, win::DWORD type, const void* data,
                       win::DWORD size) {
        CRegKeyEx key;
        ASSERT_EQ(key.Create(win::HKEY_LOCAL_MACHINE, path.c_str()), 0);
        ASSERT_EQ(win::RegSetValueExW(key.handle(), u"V", 0, type,
                                      static_cast<const win::BYTE*>(data), size),
                  0);
    }
};

TEST_F(RegistryContract, The64BitViewIsSeparateAndTheReadRuleFallsBackToIt) {
    ASSERT_TRUE(IsNative64BitProcessor());
    SetIn64BitView(u"Only64", u"64");
    EXPECT_EQ(Exists(Path(u"Only64"), win::KEY_WOW64_32KEY), win::LONG(win::ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(Exists(Path(u"Only64"), 0), win::LONG(win::ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(Exists(Path(u"Only64"), win::KEY_WOW64_64KEY), 0);
    EXPECT_EQ(ReadMachineText(Path(u"Only64").c_str(), u"V"), u"64");
}

TEST_F(RegistryContract, KeysCreatedWithoutViewLandInThe32BitViewWhichTheReadRuleTakesFirst) {
    {
        CRegKeyEx key;
        ASSERT_EQ(key.Create(win::HKEY_LOCAL_MACHINE, Path(u"Both").c_str()), 0);
        ASSERT_EQ(key.SetString(u"V", u"32"), 0);
    }
    SetIn64BitView(u"Both", u"64");
    EXPECT_EQ(Exists(Path(u"Both"), win::KEY_WOW64_32KEY), 0);
    EXPECT_EQ(ReadMachineText(Path(u"Both").c_str(), u"V"), u"32");
}

TEST_F(RegistryContract, StringSizesCountTheNulAndAreReadBackExactly) {
    CRegKeyEx key;
    ASSERT_EQ(key.Create(win::HKEY_LOCAL_MACHINE, Path(u"Sizes").c_str()), 0);
    const std::u16string texts[] = {u"", u"a", u"abc", u"4.3.01.11140", std::u16string(300, u'x')};
    for (const std::u16string& text : texts) {
        ASSERT_EQ(key.SetString(u"V", text.c_str()), 0);
        win::DWORD type = 0, bytes = 0;
        ASSERT_EQ(win::RegQueryValueExW(key.handle(), u"V", nullptr, &type, nullptr, &bytes), 0);
        EXPECT_EQ(type, win::REG_SZ);
        EXPECT_EQ(bytes, 2 * (text.size() + 1)) << text.size();
        // The stored data is the text and its NUL, nothing else.
        std::u16string data(text.size() + 4, u'?');
        win::DWORD capacity = static_cast<win::DWORD>(data.size() * 2);
        ASSERT_EQ(win::RegQueryValueExW(key.handle(), u"V", nullptr, &type,
                                        reinterpret_cast<win::BYTE*>(data.data()), &capacity),
                  0);
        EXPECT_EQ(capacity, bytes);
        EXPECT_EQ(data.substr(0, text.size() + 2), text + u'\0' + u'?');
        std::u16string read = u"x";
        EXPECT_EQ(key.QueryString(u"V", read), 0);
        EXPECT_EQ(read, text);
    }
    win::DWORD small = 4;
    win::BYTE buffer[4];
    EXPECT_EQ(win::RegQueryValueExW(key.handle(), u"V", nullptr, nullptr, buffer, &small),
              win::LONG(win::ERROR_MORE_DATA));
    EXPECT_EQ(small, 602u);
}

TEST_F(RegistryContract, OddSizedUnterminatedAndForeignValuesAreRejected) {
    const char16_t unterminated[] = {u'a', u'b'};
    const char16_t odd[] = {u'a', u'\0'};
    const win::DWORD number = 7;
    SetRaw(Path(u"Unterminated"), win::REG_SZ, unterminated, 4);
    SetRaw(Path(u"Odd"), win::REG_SZ, odd, 3);
    SetRaw(Path(u"Number"), win::REG_DWORD, &number, 4);
    SetRaw(Path(u"Empty"), win::REG_SZ, odd, 0);

    auto query = [](const std::u16string& path, std::u16string& text) {
        CRegKeyEx key;
        EXPECT_EQ(OpenForRead(key, path.c_str()), 0);
        return key.QueryString(u"V", text);
    };
    std::u16string text;
    EXPECT_EQ(query(Path(u"Unterminated"), text), win::LONG(win::ERROR_INVALID_DATA));
    text.clear();
    EXPECT_EQ(query(Path(u"Odd"), text), win::LONG(win::ERROR_MORE_DATA));
    text = u"kept";
    EXPECT_EQ(query(Path(u"Number"), text), win::LONG(win::ERROR_INVALID_DATA));
    EXPECT_EQ(text, u"kept");
    EXPECT_EQ(query(Path(u"Empty"), text), 0);
    EXPECT_EQ(text, u"");
    EXPECT_EQ(ReadMachineText(Path(u"Number").c_str(), u"V"), u"");
}

TEST_F(RegistryContract, DeleteTreeRemovesNestedKeysAndEnumerationSeesWhatIsLeft) {
    for (const char16_t* child : {u"Tree\\A\\Deep\\Deeper", u"Tree\\B", u"Tree\\C"}) {
        CRegKeyEx key;
        ASSERT_EQ(key.Create(win::HKEY_LOCAL_MACHINE, Path(child).c_str()), 0);
        ASSERT_EQ(key.SetString(u"V", u"x"), 0);
    }
    CRegKeyEx parent;
    ASSERT_EQ(parent.Open(win::HKEY_LOCAL_MACHINE, Path(u"Tree").c_str(), kAll), 0);
    // A key with sub-keys cannot be deleted by itself.
    EXPECT_NE(parent.DeleteSubKey(u"A"), 0);
    EXPECT_EQ(parent.DeleteTree(u"A"), 0);
    EXPECT_EQ(parent.DeleteSubKey(u"C"), 0);

    char16_t name[256];
    win::DWORD length = 256;
    ASSERT_EQ(
        win::RegEnumKeyExW(parent.handle(), 0, name, &length, nullptr, nullptr, nullptr, nullptr),
        0);
    EXPECT_EQ(std::u16string(name, length), u"B");
    length = 256;
    EXPECT_EQ(
        win::RegEnumKeyExW(parent.handle(), 1, name, &length, nullptr, nullptr, nullptr, nullptr),
        win::LONG(win::ERROR_NO_MORE_ITEMS));
    EXPECT_EQ(parent.DeleteTree(u"Missing"), win::LONG(win::ERROR_FILE_NOT_FOUND));
}

TEST_F(RegistryContract, DeleteTreeInThe32BitViewRemovesValuesAtEveryLevelAndNothingElse) {
    const std::u16string tree[] = {u"Tree\\Top",          u"Tree\\Top\\A",     u"Tree\\Top\\A\\B",
                                   u"Tree\\Top\\A\\B\\C", u"Tree\\Top\\A\\B2", u"Tree\\Top\\D",
                                   u"Tree\\Keep\\Child"};
    for (const std::u16string& child : tree) {
        CRegKeyEx key;
        ASSERT_EQ(key.Create(win::HKEY_LOCAL_MACHINE, Path(child).c_str()), 0);
        ASSERT_EQ(key.SetString(u"V", child.c_str()), 0);
        ASSERT_EQ(key.SetString(u"", u"default"), 0);
    }
    SetIn64BitView(u"Tree\\Top\\A", u"64");
    {
        // Opened for writing only, as the product opens the keys it cleans up.
        CRegKeyEx parent;
        ASSERT_EQ(parent.Open(win::HKEY_LOCAL_MACHINE, Path(u"Tree").c_str(),
                              win::KEY_WRITE | win::KEY_WOW64_32KEY),
                  0);
        EXPECT_EQ(parent.DeleteTree(u"Top"), 0);
        EXPECT_EQ(parent.DeleteTree(u"Top"), win::LONG(win::ERROR_FILE_NOT_FOUND));
    }
    for (const std::u16string& child : tree) {
        const bool kept = child.starts_with(u"Tree\\Keep");
        for (const win::REGSAM view : {win::REGSAM{0}, win::REGSAM{win::KEY_WOW64_32KEY}})
            EXPECT_EQ(Exists(Path(child), view) == 0, kept)
                << std::string(child.begin(), child.end());
    }
    EXPECT_EQ(ReadMachineText(Path(u"Tree\\Keep\\Child").c_str(), u"V"), u"Tree\\Keep\\Child");
    // The same tree in the 64-bit view is another tree.
    CRegKeyEx other;
    ASSERT_EQ(other.Open(win::HKEY_LOCAL_MACHINE, Path(u"Tree\\Top\\A").c_str(),
                         win::KEY_READ | win::KEY_WOW64_64KEY),
              0);
    std::u16string text;
    EXPECT_EQ(other.QueryString(u"V", text), 0);
    EXPECT_EQ(text, u"64");
}

TEST_F(RegistryContract, ValuesWrittenInThe32BitViewAreReadBackThroughItAndTheDefaultView) {
    {
        CRegKeyEx created;
        ASSERT_EQ(created.Create(win::HKEY_LOCAL_MACHINE, Path(u"Written").c_str()), 0);
    }
    {
        CRegKeyEx key;
        ASSERT_EQ(key.Open(win::HKEY_LOCAL_MACHINE, Path(u"Written").c_str(),
                           win::KEY_WRITE | win::KEY_WOW64_32KEY),
                  0);
        ASSERT_EQ(key.SetString(u"V", u"4.3.01.11140"), 0);
        ASSERT_EQ(key.SetString(u"Empty", u""), 0);
        // A key opened for writing only cannot be read through.
        std::u16string text;
        EXPECT_EQ(key.QueryString(u"V", text), win::LONG(win::ERROR_ACCESS_DENIED));
    }
    for (const win::REGSAM view : {win::REGSAM{win::KEY_WOW64_32KEY}, win::REGSAM{0}}) {
        CRegKeyEx key;
        ASSERT_EQ(key.Open(win::HKEY_LOCAL_MACHINE, Path(u"Written").c_str(), win::KEY_READ | view),
                  0);
        std::u16string text, empty = u"x";
        EXPECT_EQ(key.QueryString(u"V", text), 0);
        EXPECT_EQ(text, u"4.3.01.11140");
        EXPECT_EQ(key.QueryString(u"Empty", empty), 0);
        EXPECT_EQ(empty, u"");
    }
    EXPECT_EQ(ReadMachineText(Path(u"Written").c_str(), u"V"), u"4.3.01.11140");
    EXPECT_EQ(Exists(Path(u"Written"), win::KEY_WOW64_64KEY), win::LONG(win::ERROR_FILE_NOT_FOUND));
}

TEST_F(RegistryContract, ClassesKeysOfThe32BitProgramAreSharedByBothViews) {
    {
        CRegKeyEx key;
        ASSERT_EQ(key.Create(win::HKEY_CLASSES_ROOT, kClassesKey), 0);
        ASSERT_EQ(key.SetString(u"", u"HalvernReelwrightProject"), 0);
    }
    const std::u16string machinePath = std::u16string(u"Software\\Classes\\") + kClassesKey;
    for (const win::REGSAM view :
         {win::REGSAM{win::KEY_WOW64_32KEY}, win::REGSAM{win::KEY_WOW64_64KEY}, win::REGSAM{0}}) {
        CRegKeyEx key;
        ASSERT_EQ(key.Open(win::HKEY_LOCAL_MACHINE, machinePath.c_str(), win::KEY_READ | view), 0)
            << view;
        std::u16string text;
        EXPECT_EQ(key.QueryString(u"", text), 0) << view;
        EXPECT_EQ(text, u"HalvernReelwrightProject") << view;
    }
    // The write mask the product uses for existing keys opens it too.
    CRegKeyEx key;
    EXPECT_EQ(key.Open(win::HKEY_CLASSES_ROOT, kClassesKey, win::KEY_WRITE | win::KEY_WOW64_32KEY),
              0);
}

}  // namespace
