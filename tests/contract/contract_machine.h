// What a contract test needs of the machine beyond the calls under test, done the
// back-end's own way: on the sim by setting the machine up, on Windows with real files.
#pragma once

#include <string>

namespace contract {

// Called before each test.
void PrepareMachine();

// A PE file the build made for the tests, by its file name.
std::u16string FixturePath(const std::u16string& name);

// A folder the test may create files in; it exists.
std::u16string ScratchFolder();

void WriteTextFile(const std::u16string& path, const std::string& content);

// Creates the folder and its missing parents; the path may be in the \\?\ form.
void MakeFolder(const std::u16string& path);

// Puts a copy of a fixture at the path (which may be in the \\?\ form).
void CopyFixture(const std::u16string& name, const std::u16string& target);

// Whether the real calls are Wine's. Wine (run as root here) lets a few things through that
// Windows documents as refused; the tests name each such case where they skip it.
bool RunsUnderWine();

// An empty folder of this name in the scratch folder: whatever an earlier run left in it,
// read-only files included, is removed first.
std::u16string FreshFolder(const std::u16string& name);

}  // namespace contract
