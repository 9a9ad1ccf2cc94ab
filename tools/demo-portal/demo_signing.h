#pragma once
// The statement the demo portal publishes beside the package it offers.
#include <optional>
#include <string>

#include "portal_content.h"

namespace qev::portal {

// The built-in secret key file's text; empty when this build has none.
const char* DemoSecretKeyText();

// The statement for packageFile, from the first of these that applies:
//   secretKeyFile not empty    signed here for version with that secret key file;
//   packageFile + ".sig"       that file's text as it is (an operator's own, or a
//                              deliberately wrong one);
//   otherwise                  signed here for version with the built-in key.
// Nothing, with the reason in error, when none of them can be had.
std::optional<std::string> OfferedStatement(const std::string& packageFile, ManifestVersion version,
                                            const std::string& secretKeyFile, std::string& error);

} // namespace qev::portal
