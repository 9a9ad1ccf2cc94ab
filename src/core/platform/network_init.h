#pragma once

namespace qev {

// Process-wide set-up of the HTTP stack; call once before any request. False on failure.
bool InitNetwork();
// Releases what InitNetwork set up.
void ShutdownNetwork();

} // namespace qev
