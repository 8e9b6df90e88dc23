// One large file moved on a slow card, in the real window on the offscreen
// platform: the window keeps painting between the transfers of that one move,
// and Esc waits until the move is whole.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>

#include <chrono>
#include <thread>

#include "app/main_window.h"
#include "gui/kestra_window.h"
#include "gui/qt_host.h"
#include "gui/window_fixture.h"
#include "support/image_checks.h"
#include "support/test_env.h"
#include "support/tree_checks.h"

namespace kestra::testing {
namespace {

using Clock = std::chrono::steady_clock;
constexpr uint32_t kBigWrite = 1024;  // sectors: only a large move's transfers are this long

// The real image behind a card that takes 60 ms over every large write (a slow
// SD card, about 17 MB/s), and notes when each one came.
class SlowCard : public platform::SectorDevice {
  public:
    SlowCard(platform::DevicePtr inner, std::function<void()> onBigWrite)
        : inner_(std::move(inner)), onBigWrite_(std::move(onBigWrite)) {}
    bool Read(uint64_t first, uint32_t count, uint8_t* buffer) override {
        return inner_->Read(first, count, buffer);
    }
    bool Write(uint64_t first, uint32_t count, const uint8_t* buffer) override {
        if (count >= kBigWrite) {
            std::this_thread::sleep_for(std::chrono::milliseconds(60));
            onBigWrite_();
        }
        return inner_->Write(first, count, buffer);
    }
    bool Flush() override { return inner_->Flush(); }
    uint64_t SectorCount() const override { return inner_->SectorCount(); }
    int LockState() override { return inner_->LockState(); }
    bool Lock(int level, bool allowWrites) override { return inner_->Lock(level, allowWrites); }
    bool Unlock(int level) override { return inner_->Unlock(level); }
    int LockFlagState() override { return inner_->LockFlagState(); }
    bool OpenFile(uint32_t index, std::string& path) override {
        return inner_->OpenFile(index, path);
    }

  private:
    platform::DevicePtr inner_;
    std::function<void()> onBigWrite_;
};

// Counts every paint of every widget.
class PaintClock : public QObject {
  public:
    std::vector<Clock::time_point> paints;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) paints.push_back(Clock::now());
        return false;
    }
};

// A 32 MB FAT16 volume (mkfs.fat, mcopy) whose one 12 MB file lies in seven
// pieces: the only file the defragmentation moves, in twelve 1 MiB transfers.
struct LongMove {
    TempDir dir;
    std::string image = dir.File("card.img");
    Tree before;
    std::vector<Clock::time_point> bigWrites;
    std::function<void()> onBigWrite;
    std::unique_ptr<Desk> desk;

    LongMove() {
        std::string script =
            "set -e; export MTOOLS_SKIP_CHECK=1; cd " + dir.path().string() +
            "; mkfs.fat -C -F 16 card.img 32768 >/dev/null;"
            " for i in 1 2 3 4 5 6 7 8 9 10 11 12; do"
            " head -c 1000000 /dev/urandom > f$i; mcopy -i card.img f$i ::F$i.BIN;"
            " done; for i in 2 4 6 8 10 12; do mdel -i card.img ::F$i.BIN; done;"
            " head -c 12582912 /dev/urandom > big; mcopy -i card.img big ::BIG.BIN";
        const CommandResult made = RunCommand(script);
        EXPECT_EQ(made.exitStatus, 0) << made.output;
        EXPECT_TRUE(CopyOutTree(image, before));
        desk = std::make_unique<Desk>([this](Desk& d) {
            d.catalogue.MapDevice('c', [this](const platform::OpenOptions& options) {
                platform::OpenResult r = platform::OpenSectorDevice(image, options);
                if (r.device) {
                    r.device = std::make_unique<SlowCard>(std::move(r.device), [this] {
                        bigWrites.push_back(Clock::now());
                        if (onBigWrite) onBigWrite();
                    });
                }
                return r;
            });
            d.settings.Save("Options", "Pack", "No");  // the defragmentation alone
        });
    }
    const fat::FileRec* Big() const {
        for (const fat::FileRec& rec : desk->model.ctx.model.FileTab)
            if (rec.Size == 12582912) return &rec;
        return nullptr;
    }
    ::testing::AssertionResult Intact() const { return CleanAndHolds(image, before); }
};

// 60 ms a transfer keeps the test short, and one file is then 0.7 s of
// copying: longer than the half second the window may stay unpainted.
TEST(LongMoveTest, TheWindowPaintsBetweenTheTransfersOfOneMove) {
    LongMove m;
    PaintClock painted;
    qApp->installEventFilter(&painted);
    m.desk->window->Action("Defrag_")->trigger();
    qApp->removeEventFilter(&painted);

    ASSERT_EQ(m.bigWrites.size(), 12u);
    ASSERT_NE(m.Big(), nullptr);
    EXPECT_EQ(m.Big()->Frags, 1);
    auto longest = std::chrono::milliseconds(0);
    Clock::time_point last = m.bigWrites.front();
    int during = 0;
    for (const Clock::time_point t : painted.paints) {
        if (t < m.bigWrites.front() || t > m.bigWrites.back()) continue;
        longest =
            std::max(longest, std::chrono::duration_cast<std::chrono::milliseconds>(t - last));
        last = t;
        ++during;
    }
    longest = std::max(
        longest, std::chrono::duration_cast<std::chrono::milliseconds>(m.bigWrites.back() - last));
    EXPECT_GE(during, 5);
    EXPECT_LE(longest.count(), 500) << during << " paints while the file moved";
    EXPECT_TRUE(m.Intact());
}

// Esc pressed while the large file is copied: the copy runs to its end, the
// run stops after that move, and the file is whole in its new place.
TEST(LongMoveTest, EscDuringALargeMoveStopsOnceTheMoveIsWhole) {
    LongMove m;
    int afterEsc = 0;
    m.onBigWrite = [&] {
        if (m.desk->model.ctx.flags.CloseRequested) ++afterEsc;
        if (m.bigWrites.size() != 3) return;
        QApplication::postEvent(m.desk->window->CurrentRunWindow(),
                                new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
    };
    m.desk->window->Action("Defrag_")->trigger();

    EXPECT_EQ(m.bigWrites.size(), 12u);
    EXPECT_GE(afterEsc, 8) << "Esc was not served during the move";
    const std::vector<report::TextLine>& lines = m.desk->model.ctx.report.Main.Text.Lines;
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                            [](const report::TextLine& l) { return l.Text == "User stop"; }));
    ASSERT_NE(m.Big(), nullptr);
    EXPECT_EQ(m.Big()->Frags, 1);
    EXPECT_TRUE(m.Intact());
}

}  // namespace
}  // namespace kestra::testing
