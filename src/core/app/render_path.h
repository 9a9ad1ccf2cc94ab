#pragma once
// How the web views' frames reach the screen, chosen once at start from the GL renderer the
// machine offers: a software renderer gets the path that costs the least CPU for the same
// frame rate, a GPU keeps hardware rendering, and the user's own settings still decide.
#include <string>
#include <string_view>

namespace qev {

// Whether a GL renderer name (as an offscreen context reports it) draws in software. An
// empty name (no context could be made) counts as software.
bool IsSoftwareRenderer(std::string_view renderer);

struct RenderPath {
    bool softwareScene = false; // the windows' scene drawn in software (no GL composition)
    std::string engineFlags;    // the web engine's flags, the user's own first
    std::string logLine;        // the one line that names the choice
};

// userScene: the scene graph back end the user chose (empty: none); engineFlags: the flags
// the engine is to get so far.
RenderPath ChooseRenderPath(std::string_view renderer, std::string_view userScene,
                            std::string_view engineFlags);

} // namespace qev
