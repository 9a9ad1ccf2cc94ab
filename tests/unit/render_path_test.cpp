#include "core/app/render_path.h"

#include <gtest/gtest.h>

namespace qev {
namespace {

TEST(RenderPath, SoftwareRenderers)
{
    const struct {
        const char* renderer;
        bool software;
    } cases[] = {
        {"llvmpipe (LLVM 15.0.6, 256 bits)", true},
        {"softpipe", true},
        {"Google SwiftShader", true},
        {"ANGLE (Google, Vulkan 1.3.0 (SwiftShader Device (Subzero)), SwiftShader driver)", true},
        {"", true}, // no context at all
        {"  ", true},
        {"Mesa Intel(R) UHD Graphics 620 (KBL GT2)", false},
        {"NVIDIA GeForce GTX 1060/PCIe/SSE2", false},
        {"AMD Radeon RX 580 (polaris10, LLVM 15.0.6, DRM 3.49, 6.1.0-13-amd64)", false},
    };
    for (const auto& c : cases) EXPECT_EQ(IsSoftwareRenderer(c.renderer), c.software) << c.renderer;
}

TEST(RenderPath, TheUserDecides)
{
    const RenderPath gpu = ChooseRenderPath("Mesa Intel(R) UHD Graphics 620", "", "--a");
    EXPECT_FALSE(gpu.softwareScene);
    EXPECT_EQ(gpu.engineFlags, "--a");
    const RenderPath soft = ChooseRenderPath("llvmpipe", "", "--process-per-site");
    EXPECT_TRUE(soft.softwareScene);
    EXPECT_EQ(soft.engineFlags, "--process-per-site --disable-gpu-compositing");
    EXPECT_NE(soft.logLine.find("\"llvmpipe\""), std::string::npos) << soft.logLine;
    // The user's own scene back end or GPU flags keep their path.
    const RenderPath scene = ChooseRenderPath("llvmpipe", "rhi", "--x");
    EXPECT_FALSE(scene.softwareScene);
    EXPECT_EQ(scene.engineFlags, "--x");
    for (const char* flags : {"--disable-gpu", "--x --disable-gpu-rasterization", "--use-gl=egl"}) {
        const RenderPath own = ChooseRenderPath("", "", flags);
        EXPECT_TRUE(own.softwareScene);
        EXPECT_EQ(own.engineFlags, flags);
    }
    EXPECT_EQ(ChooseRenderPath("", "", "").engineFlags, "--disable-gpu-compositing");
    // A name from the driver reaches the log escaped.
    EXPECT_EQ(ChooseRenderPath("soft\npipe\"", "", "").logLine.find('\n'), std::string::npos);
}

} // namespace
} // namespace qev
