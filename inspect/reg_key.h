// Registry access: one key class and the read rule for the installed product's records.
// Operations return Win32 error codes (0 for success) and never raise.
#pragma once

#include <string>

#include "platform/api.h"

class CRegKeyEx {
  public:
    CRegKeyEx() = default;
    CRegKeyEx(const CRegKeyEx&) = delete;
    CRegKeyEx& operator=(const CRegKeyEx&) = delete;
    virtual ~CRegKeyEx();

    win::LONG Open(win::HKEY parent, const char16_t* path, win::REGSAM access);
    win::LONG Create(win::HKEY parent, const char16_t* path);
    win::LONG Close();
    // Reads a REG_SZ or REG_EXPAND_SZ value (unexpanded) whose data ends in a NUL.
    win::LONG QueryString(const char16_t* name, std::u16string& text);
    // Writes REG_SZ with the terminating NUL counted; a null text is refused.
    win::LONG SetString(const char16_t* name, const char16_t* text);
    win::LONG DeleteSubKey(const char16_t* name);
    win::LONG DeleteTree(const char16_t* name);

    win::HKEY handle() const { return handle_; }
    win::DWORD view() const { return view_; }

  private:
    win::LONG Hold(win::HKEY key, win::DWORD view);

    win::HKEY handle_ = nullptr;
    win::DWORD view_ = 0;
};

// Opens a key under HKEY_LOCAL_MACHINE for reading: on 64-bit Windows the 32-bit view first,
// then the 64-bit view.
win::LONG OpenForRead(CRegKeyEx& key, const char16_t* path);

// One string value under HKEY_LOCAL_MACHINE by the read rule; empty when nothing was read.
std::u16string ReadMachineText(const char16_t* path, const char16_t* name);
