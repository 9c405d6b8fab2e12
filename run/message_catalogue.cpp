#include "run/message_catalogue.h"

#include <cstring>

#include "platform/constants.h"

std::u16string LoadMessage(std::uint16_t id) {
    const win::HMODULE module = win::GetModuleHandleW(nullptr);
    const auto block = static_cast<win::WORD>(id / 16 + 1);
    const win::HRSRC resource = win::FindResourceExW(module, win::MakeIntResource(win::RT_STRING),
                                                     win::MakeIntResource(block), 0);
    if (resource == nullptr) return {};
    const win::HGLOBAL loaded = win::LoadResource(module, resource);
    const auto* data = static_cast<const unsigned char*>(win::LockResource(loaded));
    const win::DWORD size = win::SizeofResource(module, resource);
    if (data == nullptr) return {};

    // Sixteen entries, each a 16-bit length and that many UTF-16 code units.
    std::size_t offset = 0;
    for (unsigned entry = 0;; ++entry) {
        if (offset + 2 > size) return {};
        std::uint16_t length;
        std::memcpy(&length, data + offset, 2);
        offset += 2;
        if (entry == id % 16u) {
            if (length == 0 || offset + 2u * length > size) return {};
            std::u16string text(length, u'\0');
            std::memcpy(text.data(), data + offset, 2u * length);
            return text;
        }
        offset += 2u * length;
    }
}

std::u16string FormatMessageWithCode(std::uint16_t id, std::uint32_t code) {
    std::u16string text = LoadMessage(id);
    static constexpr char16_t kPlaceholder[] = u"%08x";
    const std::size_t at = text.find(kPlaceholder);
    if (at == std::u16string::npos) return text;
    static constexpr char16_t kDigits[] = u"0123456789abcdef";
    char16_t hex[8];
    for (int i = 7; i >= 0; --i, code >>= 4) hex[i] = kDigits[code & 0xF];
    text.replace(at, 4, hex, 8);
    return text;
}
