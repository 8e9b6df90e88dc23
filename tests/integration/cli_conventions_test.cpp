// kestra-cli as a new user tries it: options in either GNU form, "--" before a
// name that starts with a dash, help for one command, colours a terminal cannot
// show, a log that cannot be written, and a word that is both a drive and a file.
#include <gtest/gtest.h>

#include <fstream>

#include "integration/cli.h"
#include "support/mtools_volume.h"
#include "support/test_env.h"

namespace kestra::testing {
namespace {

class CliConventionsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        img = dir.File("vol.img");
        MakeFragmentedVolume(img, "-F 12", 1440);
        before = Sha(img);
    }
    // The command run in the temp folder.
    CommandResult Run(const std::string& args, const std::string& env = "") {
        return RunCommand("cd " + ShellQuote(dir.path().string()) + " && " + env + " " + Cli(args));
    }
    TempDir dir;
    std::string img;
    std::string before;
};

TEST_F(CliConventionsTest, ValuesComeJoinedOrApartAndTheVolumeAfterDoubleDash) {
    // The two forms of a value give the same bytes.
    const CommandResult joined = Run("hex --sector=0 --count=2 --drive=c=vol.img c:");
    const CommandResult apart = Run("hex --sector 0 --count 2 --drive c=vol.img c:");
    EXPECT_EQ(joined.exitStatus, 0) << joined.output;
    EXPECT_EQ(joined.output, apart.output);
    EXPECT_EQ(Run("view --png=a.png vol.img").exitStatus, 0);
    EXPECT_EQ(Run("view --png b.png vol.img").exitStatus, 0);
    EXPECT_EQ(Sha(dir.File("a.png")), Sha(dir.File("b.png")));

    // A value is never missing, nor taken from the next option; a flag takes none.
    for (const char* args : {"view vol.img --png", "view --log --map vol.img", "hex --sector",
                             "info --json=yes vol.img", "view --png= vol.img", "demo --seed --map",
                             "demo --map", "info --png=x.png vol.img"}) {
        SCOPED_TRACE(args);
        const CommandResult r = Run(args);
        EXPECT_EQ(r.exitStatus, 64) << r.output;
    }
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "--map"));

    // After "--" a name may start with a dash.
    std::filesystem::copy_file(img, dir.File("-odd.img"));
    EXPECT_EQ(Run("info -odd.img").exitStatus, 64);
    CommandResult r = Run("info -- -odd.img");
    EXPECT_EQ(r.exitStatus, 0) << r.output;
    EXPECT_NE(r.output.find("Type=FAT12"), std::string::npos) << r.output;
    r = Run("check -- --help");  // a volume named --help, not the help
    EXPECT_EQ(r.exitStatus, 3) << r.output;
    EXPECT_NE(r.output.find("--help: No such file"), std::string::npos) << r.output;
    EXPECT_EQ(Sha(img), before);
}

TEST_F(CliConventionsTest, EachCommandHelpsWithItsOwnOptionsOnly) {
    struct Case {
        const char* command;
        std::vector<const char*> has, hasNot;
    };
    const Case cases[] = {
        {"check", {"kestra-cli check", "--files", "--log", "--drive"}, {"--sector", "--no-pack"}},
        {"defrag", {"--only", "--no-pack", "--truncate-log"}, {"--files", "--seed", "Commands:"}},
        {"hex", {"--sector", "--count", "--png"}, {"--map", "--log", "--json"}},
        {"info", {"--json", "--drive"}, {"--map", "--png"}},
        {"demo", {"--seed"}, {"--drive", "--map"}},
        {"timing", {"--png"}, {"--map", "--json"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        const CommandResult r = Run(std::string(c.command) + " --help");
        EXPECT_EQ(r.exitStatus, 0);
        for (const char* text : c.has)
            EXPECT_NE(r.output.find(text), std::string::npos) << text;
        for (const char* text : c.hasNot)
            EXPECT_EQ(r.output.find(text), std::string::npos) << text;
        EXPECT_EQ(Run(std::string("help ") + c.command).output, r.output);
        EXPECT_EQ(Run(std::string(c.command) + " vol.img -h").output, r.output);
    }
    EXPECT_NE(Run("--help").output.find("Commands:"), std::string::npos);
    EXPECT_EQ(Run("help frobnicate").exitStatus, 64);
}

// script(1) gives the program a real terminal; the environment says what it shows.
TEST_F(CliConventionsTest, NoColourOrADumbTerminalGetsNoEscapes) {
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

TEST_F(CliConventionsTest, ALogThatCannotBeWrittenStopsTheRunBeforeItStarts) {
    std::filesystem::create_directory(dir.path() / "folder");
    for (const char* log : {"missing/run.log", "folder"}) {
        SCOPED_TRACE(log);
        const CommandResult r = Run(std::string("defrag --log ") + log + " vol.img");
        EXPECT_EQ(r.exitStatus, 3) << r.output;
        EXPECT_EQ(r.output, std::string("kestra-cli defrag: ") + log + ": " +
                                (*log == 'm' ? "No such file or directory\n" : "Is a directory\n"));
        EXPECT_EQ(Sha(img), before);  // nothing moved
    }

    // A log grows run by run, unless asked to start afresh.
    const auto runs = [&] {
        std::ifstream in(dir.File("run.log"));
        std::string line;
        int n = 0;
        while (std::getline(in, line))
            n += line.rfind("I/O: ", 0) == 0;
        return n;
    };
    EXPECT_EQ(Run("check --log run.log vol.img").exitStatus, 0);
    EXPECT_EQ(Run("check --log=run.log vol.img").exitStatus, 0);
    EXPECT_EQ(runs(), 2);
    EXPECT_EQ(Run("check --truncate-log --log run.log vol.img").exitStatus, 0);
    EXPECT_EQ(runs(), 1);
}

TEST_F(CliConventionsTest, ALetterThatIsAlsoAFileHereIsNeverGuessed) {
    std::filesystem::copy_file(img, dir.File("c"));
    CommandResult r = Run("info --drive c=vol.img c");
    EXPECT_EQ(r.exitStatus, 64) << r.output;
    EXPECT_NE(r.output.find("'c' is both drive C: and the file ./c; write c: for the drive or "
                            "./c for the file"),
              std::string::npos)
        << r.output;
    // Either spelling settles it; an unmapped letter that is a file is the file.
    for (const char* args : {"info --drive c=vol.img c:", "info --drive c=vol.img ./c", "info c",
                             "check --drive=c=vol.img C:"}) {
        SCOPED_TRACE(args);
        r = Run(args);
        EXPECT_EQ(r.exitStatus, 0) << r.output;
    }
    r = Run("check d");
    EXPECT_EQ(r.exitStatus, 64) << r.output;
    EXPECT_NE(r.output.find("drive D: is not mapped"), std::string::npos) << r.output;
}

}  // namespace
}  // namespace kestra::testing
