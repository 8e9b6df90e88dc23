// The desktop program run for real on images made by mkfs.fat and mtools: what
// its command line refuses leaves every image as it was, the unattended log only
// ever holds the current run, and without a display it never waits unseen.
#include <gtest/gtest.h>

#include "report/error_boxes.h"
#include "support/image_checks.h"
#include "support/mtools_volume.h"
#include "support/test_env.h"

namespace kestra::testing {
namespace {

struct Desktop {
    TempDir dir;
    std::string image = dir.File("vol.img");
    std::string log = dir.File("kestra.LOG");
    std::string before;
    Desktop() {
        MakeFragmentedVolume(image, "-F 12", 1440);
        before = Sha(image);
    }
    // kestra with `args`, its own program folder and settings, under `env`'s
    // options and after `prefix` (another program that holds the image).
    CommandResult Run(const std::string& args, const std::string& env = "QT_QPA_PLATFORM=offscreen",
                      const std::string& prefix = "") {
        return RunCommand(prefix + " env " + env + " KESTRA_HOME=" + dir.path().string() +
                          " XDG_CONFIG_HOME=" + dir.path().string() + " timeout 60 " +
                          KESTRA_GUI_PATH + " " + args);
    }
    std::string Log() const {
        const std::vector<uint8_t> b = ReadFile(log);
        return {b.begin(), b.end()};
    }
    void OldLog() const {
        const std::string old = "Drive=c: [EARLIER]  FAT\r\nFragmented files=0\r\n";
        WriteFile(log, std::vector<uint8_t>(old.begin(), old.end()));
    }
};

TEST(DesktopArgsTest, UsageErrorsExit64AndTouchNothing) {
    Desktop d;
    const std::string drive = "--drive c=" + d.image;
    for (const std::string& args : {std::string("--frobnicate"), drive + " --check", drive + " cd",
                                    drive + " /c/1", drive + " /c -x", drive + " --drive"}) {
        const CommandResult r = d.Run(args);
        EXPECT_EQ(r.exitStatus, 64) << args << "\n" << r.output;
        EXPECT_NE(r.output.find("kestra: "), std::string::npos) << r.output;
        EXPECT_EQ(Sha(d.image), d.before) << args;
        EXPECT_FALSE(std::filesystem::exists(d.log)) << args;
    }
    const CommandResult help = d.Run("--help " + drive + " /c");
    EXPECT_EQ(help.exitStatus, 0);
    EXPECT_EQ(help.output.rfind("Usage: kestra", 0), 0u) << help.output;
    EXPECT_EQ(Sha(d.image), d.before);
}

// A letter no drive has is an error line, and the other drives still run; a
// drive another process holds leaves the busy box in the log. Neither keeps a
// line of the run before.
TEST(DesktopArgsTest, UnknownLettersAndBusyDrivesFailWithAFreshLog) {
    Desktop d;
    d.OldLog();
    CommandResult r = d.Run("--drive c=" + d.image + " /x");
    EXPECT_EQ(r.exitStatus, 64) << r.output;
    EXPECT_EQ(d.Log(), "Drive x: is not mapped (use --drive x=PATH)\r\n");
    EXPECT_EQ(Sha(d.image), d.before);

    d.OldLog();
    r = d.Run("--drive c=" + d.image + " /c", "QT_QPA_PLATFORM=offscreen",
              "flock -x -o " + d.image);
    EXPECT_EQ(r.exitStatus, 2) << r.output;
    EXPECT_EQ(d.Log().find("EARLIER"), std::string::npos) << d.Log();
    EXPECT_NE(d.Log().find(report::DriveBusyText("c: (" + d.image + ")")), std::string::npos)
        << d.Log();
    EXPECT_EQ(Sha(d.image), d.before);

    r = d.Run("--drive c=" + d.image + " /x/c");
    EXPECT_EQ(r.exitStatus, 64) << r.output;
    EXPECT_NE(d.Log().find("Drive x: is not mapped"), std::string::npos) << d.Log();
    EXPECT_NE(d.Log().find("\r\nFragmented files=0\r\n"), std::string::npos) << d.Log();
    EXPECT_NE(Sha(d.image), d.before);
    EXPECT_TRUE(FsckClean(d.image));
}

// Fallen back to the offscreen platform, the window would wait for a user
// nobody can see: only named drives may run there.
TEST(DesktopArgsTest, WithoutADisplayOnlyUnattendedRunsStart) {
    Desktop d;
    const std::string none = "-u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM";
    CommandResult r = d.Run("", none);
    EXPECT_EQ(r.exitStatus, 64) << r.output;
    EXPECT_NE(r.output.find("kestra --drive c=disk.img /c"), std::string::npos) << r.output;
    r = d.Run("--drive c=" + d.image, none);
    EXPECT_EQ(r.exitStatus, 64) << r.output;
    EXPECT_EQ(Sha(d.image), d.before);

    r = d.Run("--drive c=" + d.image + " /c", none);
    EXPECT_EQ(r.exitStatus, 0) << r.output;
    EXPECT_NE(Sha(d.image), d.before);
    EXPECT_TRUE(FsckClean(d.image));
    EXPECT_EQ(d.Log().rfind("Drive=c:", 0), 0u) << d.Log();
}

}  // namespace
}  // namespace kestra::testing
