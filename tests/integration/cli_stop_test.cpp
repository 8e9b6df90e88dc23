// How a kestra-cli defrag ends when it is not left to finish: real signals sent
// to the running program, a closed progress pipe, a medium whose last flush
// fails; and that a run that moved files leaves the FSInfo counts right.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <thread>

#include "integration/cli.h"
#include "support/image.h"
#include "support/image_checks.h"
#include "support/test_env.h"

namespace kestra::testing {
namespace {

// A FAT32 volume of 128 MB whose 24 files of 2 MB lie in three pieces each,
// woven together: long enough a run to be stopped part-way.
const FatImage& LongRun() {
    static const FatImage img = [] {
        ImageOptions o = ImageOptions::Fat32(1);
        o.totalSectors = 262144;
        ImageBuilder b(o);
        constexpr uint32_t kFiles = 24, kPiece = 1400, kBase = 100;
        for (uint32_t i = 0; i < kFiles; ++i) {
            Runs runs;
            for (uint32_t k = 0; k < 3; ++k)
                runs.push_back({kBase + kPiece * (k * kFiles + i), kPiece});
            b.AddFile(b.Root(), "FILE" + std::to_string(i) + ".BIN",
                      SeededBytes(i + 7, size_t{3 * kPiece} * 512), runs);
        }
        return b.Build();
    }();
    return img;
}

struct Spawned {
    pid_t pid = -1;
    int errPipe = -1;  // the read end of stderr, when asked for
};

// kestra-cli with `args`, stdout to /dev/null; stderr to a pipe or /dev/null.
Spawned Spawn(const std::vector<std::string>& args, bool pipeStderr) {
    int fds[2] = {-1, -1};
    if (pipeStderr && ::pipe(fds) != 0) return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(pipeStderr ? fds[1] : null, 2);
        if (pipeStderr) ::close(fds[0]);
        std::vector<char*> argv{const_cast<char*>(KESTRA_CLI_PATH)};
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(KESTRA_CLI_PATH, argv.data());
        ::_exit(127);
    }
    if (pipeStderr) ::close(fds[1]);
    return {pid, fds[0]};
}

int Wait(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    // A death by signal reads as the shell shows it.
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void Pause(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Each signal at several moments of the moves: the run stops at a safe point
// (exit 5) or had finished (0), never dies, and leaves a sound volume.
TEST(CliStopTest, TermHupAndQuitStopAtASafePoint) {
    const FatImage& img = LongRun();
    TempDir dir;
    const std::string image = dir.File("long.img");
    // The moments are shares of a whole run on this machine, however loaded.
    ASSERT_EQ(img.WriteTo(image), "");
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(Wait(Spawn({"defrag", image}, false).pid), 0);
    const auto whole = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - start)
                           .count();
    int stopped = 0;
    for (const int sig : {SIGTERM, SIGHUP, SIGQUIT}) {
        for (const int share : {15, 45, 75}) {
            const int ms = static_cast<int>(whole * share / 100);
            SCOPED_TRACE("signal " + std::to_string(sig) + " after " + std::to_string(ms) + " ms");
            ASSERT_EQ(img.WriteTo(image), "");
            const Spawned run = Spawn({"defrag", image}, false);
            ASSERT_GT(run.pid, 0);
            Pause(ms);
            ::kill(run.pid, sig);
            const int status = Wait(run.pid);
            EXPECT_TRUE(status == 5 || status == 0) << "exit " << status;
            stopped += status == 5;
            EXPECT_TRUE(FsckClean(image));
            EXPECT_TRUE(ReadsBackIdentical(img, image));
        }
    }
    EXPECT_GE(stopped, 5) << "the runs ended before the signals came";
}

// `defrag --progress IMG 2>&1 >/dev/null | head -c 60`: the reader goes away;
// the run goes on to its end with its write order, only the output is lost.
TEST(CliStopTest, AClosedProgressPipeLosesTheOutputNotTheRun) {
    const FatImage& img = LongRun();
    TempDir dir;
    const std::string image = dir.File("long.img");
    for (const size_t keep : {size_t{0}, size_t{60}}) {
        SCOPED_TRACE("pipe closed after " + std::to_string(keep) + " bytes");
        ASSERT_EQ(img.WriteTo(image), "");
        const Spawned run = Spawn({"defrag", "--progress", image}, true);
        ASSERT_GT(run.pid, 0);
        char buffer[64];
        size_t got = 0;
        while (got < keep) {
            const ssize_t n = ::read(run.errPipe, buffer, std::min(sizeof buffer, keep - got));
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
        ::close(run.errPipe);
        EXPECT_EQ(Wait(run.pid), 0);
        EXPECT_TRUE(FsckClean(image));
        EXPECT_TRUE(ReadsBackIdentical(img, image));
    }
}

// A small FAT32 volume with fragmented files and an FSInfo free count that
// says something else.
FatImage StaleFsInfo() {
    ImageBuilder b(ImageOptions::Fat32(1));
    for (uint32_t i = 0; i < 6; ++i) {
        b.AddFile(b.Root(), "S" + std::to_string(i) + ".BIN", SeededBytes(i + 3, 8 * 512),
                  {{200 + 20 * i, 4}, {400 + 20 * i, 4}});
    }
    FatImage img = b.Build();
    img.SetFsInfo(img.FreeClusterCount() - 1000, 3);
    return img;
}

TEST(CliStopTest, ADefaultRunLeavesTheFsInfoCountRight) {
    const FatImage img = StaleFsInfo();
    TempFile image;
    ASSERT_EQ(img.WriteTo(image.path()), "");
    ASSERT_FALSE(FsckClean(image.path())) << "the count was not stale to begin with";
    const CommandResult r = RunCommand(Cli("defrag " + ShellQuote(image.path())));
    EXPECT_EQ(r.exitStatus, 0) << r.output;
    EXPECT_TRUE(FsckClean(image.path())) << r.output;
    EXPECT_TRUE(ReadsBackIdentical(img, image.path()));
}

// Without barriers the one flush comes at the end; a medium that fails it is a
// disk error, not a clean run.
TEST(CliStopTest, AFailingLastFlushWithoutWriteThroughIsADiskError) {
    const FatImage img = StaleFsInfo();
    TempFile image;
    ASSERT_EQ(img.WriteTo(image.path()), "");
    const CommandResult r =
        RunCommand(std::string("LD_PRELOAD=") + KESTRA_FAIL_FDATASYNC + " " +
                   Cli("defrag --no-write-through " + ShellQuote(image.path())));
    EXPECT_EQ(r.exitStatus, 3) << r.output;
}

}  // namespace
}  // namespace kestra::testing
