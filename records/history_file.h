// The plain-text history of the updates applied to the product: "version.txt" in the
// installation folder. The file is 8-bit text: each char of a line holds one byte of the
// file, so old lines pass through unchanged whatever their encoding.
#pragma once

#include <string>
#include <vector>

// Rewrites the history file with this update at the top and its entry at the end.
void AppendUpdateHistory(const std::u16string& newVersion, const std::u16string& productName);

// The file's non-empty lines without their line ends (LF, or CR LF); a file that cannot be
// opened has none, and a read error keeps the lines completed before it.
std::vector<std::string> ReadHistoryLines(const std::u16string& path);

// Creates or empties the file and writes the new version, the old lines with every update
// counter raised by one, and the four entry lines of this update; false when the file could
// not be opened for writing.
bool WriteHistoryFile(const std::u16string& path, const std::vector<std::string>& oldLines,
                      const std::u16string& newVersion, const std::u16string& productName);
