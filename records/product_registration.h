// The product's registry records brought in line with the version just put in place: the
// application and help versions, the template markers, the project-file association, the
// URL protocol and the uninstall entry.
#pragma once

#include <string>

// Best effort: a key that does not open loses only its own values; nothing is reported.
void UpdateProductRegistration(const std::u16string& newVersion);
