#pragma once
// The update manifest: which build is current and where its package can be fetched.
//   <config><game major="2" minor="65538"><item host="h" path="/p/" file="f.bin"/></game></config>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/layout/layout.h"

namespace qev {

// Reads the manifest file at path into doc: "major"/"minor" of the first <game> of the
// first <config> when present (old values stay otherwise), and one UpdateSource appended
// per <item> child of that <game>. Returns 1 when the file was read and parsed as XML
// (even without any of these elements), 0 when it could not be opened or is not XML
// (doc unchanged). A file larger than MaxXmlBytes or nested deeper than MaxXmlDepth is
// not parsed at all: 0, and one log line says why.
int ReadUpdateManifest(LayoutDocument& doc, const std::string& path);

// The same for the manifest's bytes already in memory. *hasGame (when given) tells whether
// the text holds the <config><game> element that names a version.
int ReadUpdateManifestText(LayoutDocument& doc, std::string_view bytes, bool* hasGame = nullptr);

// True unless the file version is older than the manifest's: fileVersionMS < major, or
// equal and fileVersionLS < minor (all unsigned).
bool IsVersionCurrent(std::uint32_t fileVersionMS, std::uint32_t fileVersionLS, std::uint32_t major,
                      std::uint32_t minor);

} // namespace qev
