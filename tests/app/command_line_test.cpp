#include <gtest/gtest.h>

#include "app/command_line.h"
#include "app/main_window.h"

namespace kestra::app {
namespace {

using Args = std::vector<std::string>;

// The known options and letters in the "/c/d" form; the letters reach the
// unattended loop as written.
TEST(CommandLineTest, KnownOptionsAndSlashLettersAreTaken) {
    DesktopArgs a = ParseDesktopArgs({});
    EXPECT_EQ(a.action, DesktopArgs::Action::Run);
    EXPECT_TRUE(a.drives.empty());

    a = ParseDesktopArgs(
        {"--drive", "c=a.img", "--drive=d:=b.img@2", "--no-write-through", "/C:", "/d//e/"});
    ASSERT_EQ(a.action, DesktopArgs::Action::Run) << a.error;
    EXPECT_EQ(a.mapped,
              (std::vector<std::pair<char, std::string>>{{'c', "a.img"}, {'d', "b.img@2"}}));
    EXPECT_FALSE(a.writeThrough);
    EXPECT_EQ(a.drives, "/C: /d//e/");
    std::string letters;
    EXPECT_TRUE(CommandLineDrives(a.drives, letters));
    EXPECT_EQ(letters, "cde");

    for (const Args& help : {Args{"-h"}, Args{"/c", "--help"}})
        EXPECT_EQ(ParseDesktopArgs(help).action, DesktopArgs::Action::Help);

    // "--" ends the options: after it only letters, and "--help" is not the help.
    a = ParseDesktopArgs({"--no-write-through", "--", "/c"});
    ASSERT_EQ(a.action, DesktopArgs::Action::Run) << a.error;
    EXPECT_EQ(a.drives, "/c");
    EXPECT_NE(ParseDesktopArgs({"--", "--help"}).action, DesktopArgs::Action::Help);
    EXPECT_NE(ParseDesktopArgs({"--", "--", "/c"}).action, DesktopArgs::Action::Run);
}

// Anything else refuses the whole line, wherever it stands: a mistyped option
// must never be read as drive letters ("--check" named c, h, e and k).
TEST(CommandLineTest, EverythingElseIsAUsageError) {
    for (const Args& bad : {Args{"--frobnicate"},
                            Args{"--drive", "c=a.img", "--check"},
                            Args{"/c", "-x"},
                            Args{"-c"},
                            Args{"cd"},
                            Args{"c"},
                            Args{"c:"},
                            Args{"/"},
                            Args{"//"},
                            Args{"/cd"},
                            Args{"/check"},
                            Args{"/c/1"},
                            Args{"/c:d"},
                            Args{""},
                            Args{"disk.img"},
                            Args{"/\xc3\xa9"},
                            Args{"--drive"},
                            Args{"--drive", "c"},
                            Args{"--drive", "c="},
                            Args{"--drive", "cd=a.img"},
                            Args{"--drive", "1=a.img"},
                            Args{"--drive=c"},
                            Args{"--no-write-through=1"}}) {
        const DesktopArgs a = ParseDesktopArgs(bad);
        std::string line;
        for (const std::string& s : bad)
            line += s + " ";
        EXPECT_EQ(a.action, DesktopArgs::Action::Usage) << line;
        EXPECT_FALSE(a.error.empty()) << line;
    }
    EXPECT_EQ(ParseDesktopArgs({"--check"}).error, "unknown option --check");
}

}  // namespace
}  // namespace kestra::app
