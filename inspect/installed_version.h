// The installed product's version records and the version gate of a run.
#pragma once

#include <string>
#include <string_view>

#include "inspect/version_values.h"

inline constexpr VersionQuad kLowestAcceptedVersion{4, 2, 0, 0};
inline constexpr VersionQuad kHighestAcceptedVersion{4, 3, 0, 11000};

// Each read opens, reads and closes its key anew; empty when the record is not there.
std::u16string ReadDisplayVersion();
std::u16string ReadAppDbVersion();

bool IsApplicableVersion(std::u16string_view installed);
bool IsTargetVersion(std::u16string_view installed);
