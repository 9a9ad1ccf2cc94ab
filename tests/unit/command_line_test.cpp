#include "core/app/command_line.h"

#include <gtest/gtest.h>

namespace qev {
namespace {

using A = CommandLineAction;

TEST(CommandLine, Classify)
{
    const struct {
        std::vector<std::string> args;
        A action;
    } cases[] = {
        {{}, A::Run},
        {{"--help"}, A::Help},
        {{"-h"}, A::Help},
        {{"--version"}, A::Version},
        {{"--version", "--help"}, A::Version}, // the first asked decides
        {{"-platform", "xcb", "--help"}, A::Help},
        // What a session manager and launchers pass for Qt.
        {{"-session", "1a2b3c_4"}, A::Run},
        {{"-session=1a2b3c_4"}, A::Run},
        {{"--platform", "xcb", "-display", ":1", "-style=Fusion"}, A::Run},
        {{"-session"}, A::Unknown},  // value missing
        {{"-session="}, A::Unknown}, // empty value
        {{"-sessionx", "1"}, A::Unknown},
        {{"-style", "Fusion", "extra"}, A::Unknown},
        // The hand-over lines, whatever their length: the modes stay silent.
        {{"-u", "-p12", "/run/p", "/opt/qev"}, A::HandOver},
        {{"-r", "-p12", "/run/", "/run/p"}, A::HandOver},
        {{"-u"}, A::HandOver},
        {{"-r", "a", "b", "c", "d"}, A::HandOver},
        {{"--help", "-u"}, A::Unknown}, // "-u" counts only first
        {{"-x"}, A::Unknown},
        {{"help"}, A::Unknown},
        {{"--verbose"}, A::Unknown},
        {{""}, A::Unknown},
        {{"--versions"}, A::Unknown},
    };
    for (const auto& c : cases) {
        std::string line;
        for (const auto& a : c.args) line += "[" + a + "]";
        EXPECT_EQ(ClassifyCommandLine(c.args), c.action) << line;
    }
    EXPECT_EQ(VersionText(), std::string("qev ") + QEV_VERSION_TEXT + "\n");
}

} // namespace
} // namespace qev
