// Registry behaviours the program relies on.
#include "contract_test.h"
#include "inspect/reg_key.h"
#include "platform/constants.h"
#include "run/preflight_checks.h"

namespace {

constexpr char16_t kRoot[] = u"Software\\ReelwrightUpdateContract";
constexpr win::REGSAM kAll = win::KEY_READ | win::KEY_WRITE;

class RegistryContract : public ContractTest {
  protected:
    void TearDown() override {
        for (const win::REGSAM view : {win::KEY_WOW64_32KEY, win::KEY_WOW64_64KEY}) {
            CRegKeyEx software;
            if (software.Open(win::HKEY_LOCAL_MACHINE, u"Software", kAll | view) == 0)
                software.DeleteTree(u"ReelwrightUpdateContract");
        }
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
    ASSERT_EQ(key.SetString(u"Three", u"abc"), 0);
    ASSERT_EQ(key.SetString(u"Empty", u""), 0);
    for (const auto& [name, size] : {std::pair{u"Three", 8u}, std::pair{u"Empty", 2u}}) {
        win::DWORD type = 0, bytes = 0;
        ASSERT_EQ(win::RegQueryValueExW(key.handle(), name, nullptr, &type, nullptr, &bytes), 0);
        EXPECT_EQ(type, win::REG_SZ);
        EXPECT_EQ(bytes, size);
    }
    std::u16string text = u"x";
    EXPECT_EQ(key.QueryString(u"Empty", text), 0);
    EXPECT_EQ(text, u"");
    win::DWORD small = 4;
    win::BYTE buffer[4];
    EXPECT_EQ(win::RegQueryValueExW(key.handle(), u"Three", nullptr, nullptr, buffer, &small),
              win::LONG(win::ERROR_MORE_DATA));
    EXPECT_EQ(small, 8u);
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

}  // namespace
