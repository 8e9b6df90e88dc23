// kestra-cli on a terminal that cannot show colours. (Options in either GNU form,
// "--", help for one command, logs that cannot be written and a word that is both
// a drive and a file are in the case folders tests/cases/{option,help,log,letter}-*.)
#include <gtest/gtest.h>

#include "integration/cli.h"
#include "support/mtools_volume.h"
#include "support/test_env.h"

namespace kestra::testing {
namespace {

// script(1) gives the program a real terminal; the environment says what it shows.
TEST(CliConventionsTest, NoColourOrADumbTerminalGetsNoEscapes) {
    TempDir dir;
    MakeFragmentedVolume(dir.File("vol.img"), "-F 12", 1440);
    const auto onTerminal = [&](const std::string& env, const std::string& args) {
        return RunCommand("cd " + ShellQuote(dir.path().string()) + " && env " + env +
                          " script -qec " + ShellQuote(Cli(args)) + " /dev/null");
    };
    for (const char* args : {"view --map vol.img", "hex --sector 0 vol.img"}) {
        SCOPED_TRACE(args);
        CommandResult r = onTerminal("TERM=xterm NO_COLOR=", args);
        EXPECT_EQ(r.exitStatus, 0) << r.output;
        EXPECT_NE(r.output.find("\x1b["), std::string::npos);
        for (const char* env : {"TERM=xterm NO_COLOR=1", "TERM=dumb", "-u TERM"}) {
            SCOPED_TRACE(env);
            r = onTerminal(env, args);
            EXPECT_EQ(r.exitStatus, 0) << r.output;
            EXPECT_EQ(r.output.find('\x1b'), std::string::npos) << r.output;
        }
    }
    // The map itself is still drawn, in characters.
    const CommandResult r = onTerminal("TERM=dumb", "view --map vol.img");
    EXPECT_NE(r.output.find("# Frag"), std::string::npos) << r.output;
}

}  // namespace
}  // namespace kestra::testing
