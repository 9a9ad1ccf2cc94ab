#pragma once
// The statement the demo portal publishes beside the package it offers.
#include <string>

#include "portal_content.h"

namespace qev::portal {

// The demo secret key file's text (demo_update_key.secret, built in).
const char* DemoSecretKeyText();

// The statement for packageFile: the text of packageFile + ".sig" when that file exists (an
// operator's own, or a deliberately wrong one), otherwise a statement for version signed
// here with the demo key. Empty when neither can be had.
std::string OfferedStatement(const std::string& packageFile, ManifestVersion version);

} // namespace qev::portal
