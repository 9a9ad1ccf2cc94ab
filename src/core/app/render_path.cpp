#include "core/app/render_path.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <sstream>

#include "core/base/log.h"

namespace qev {
namespace {

// Renderer names of the software rasterisers, matched case-insensitively anywhere in the name
// ("llvmpipe (LLVM 15.0.6, 256 bits)", "Google SwiftShader").
constexpr std::array<std::string_view, 4> SoftwareRenderers = {
    "llvmpipe", "softpipe", "swiftshader", "software rasterizer"};

// Flags of the engine that choose its own GPU or GL path: where the user gave one, the
// engine's path is theirs.
constexpr std::array<std::string_view, 6> GpuFlagPrefixes = {
    "--disable-gpu", "--enable-gpu",           "--use-gl",
    "--use-angle",   "--ignore-gpu-blocklist", "--disable-software-rasterizer"};

// What the engine adds to the software scene at the least CPU for the same frame rate
// (measured on the demo game page and a canvas animation: bench/startup/render.sh).
constexpr std::string_view SoftwareEngineFlags = "--disable-gpu-compositing";

std::string Lower(std::string_view text)
{
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

bool NamesGpuPath(std::string_view flags)
{
    std::istringstream words{std::string(flags)};
    std::string word;
    while (words >> word)
        for (std::string_view prefix : GpuFlagPrefixes)
            if (word.rfind(prefix, 0) == 0) return true;
    return false;
}

std::string Quoted(std::string_view renderer)
{
    return renderer.empty() ? std::string("none")
                            : '"' + EscapeForLog(renderer, "\"", false, 200) + '"';
}

} // namespace

bool IsSoftwareRenderer(std::string_view renderer)
{
    const std::string name = Lower(renderer);
    if (name.find_first_not_of(" \t") == std::string::npos) return true;
    return std::any_of(
        SoftwareRenderers.begin(), SoftwareRenderers.end(),
        [&name](std::string_view soft) { return name.find(soft) != std::string::npos; });
}

RenderPath ChooseRenderPath(std::string_view renderer, std::string_view userScene,
                            std::string_view engineFlags)
{
    RenderPath path;
    path.engineFlags = std::string(engineFlags);
    const std::string gl = "GL renderer " + Quoted(renderer);
    if (!IsSoftwareRenderer(renderer)) {
        path.logLine = "rendering: hardware (" + gl + ")";
        return path;
    }
    if (!userScene.empty()) {
        path.logLine = "rendering: software (" + gl + "), the user's scene back end \"" +
                       EscapeForLog(userScene, "\"", false, 40) + "\" stands";
        return path;
    }
    path.softwareScene = true;
    path.logLine = "rendering: software (" + gl + "): the windows' scene in software";
    if (NamesGpuPath(engineFlags)) {
        path.logLine += ", the engine's GPU flags as the user set them";
        return path;
    }
    path.engineFlags +=
        path.engineFlags.empty() ? SoftwareEngineFlags : " " + std::string(SoftwareEngineFlags);
    path.logLine += ", the engine with " + std::string(SoftwareEngineFlags);
    return path;
}

} // namespace qev
