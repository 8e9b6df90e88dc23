#include "run/run_driver.h"

#include <gtest/gtest.h>

#include "app/launch.h"
#include "platform/fake_device.h"
#include "report/error_boxes.h"
#include "support/image.h"
#include "support/image_damage.h"

namespace kestra::run {
namespace {

using image::ImageBuilder;
using image::ImageOptions;
using image::SeededBytes;

// A whole launch and run on drive C:, a fake device over an image the builder made.
struct Launch {
    explicit Launch(const image::FatImage& img)
        : memory(std::shared_ptr<platform::MemoryDevice>(img.ToDevice())) {
        catalogue.MapDevice('C', [this](const platform::OpenOptions& options) {
            if (beforeOpen) beforeOpen(options.writable, script);
            platform::OpenResult r;
            r.device = std::make_unique<platform::FakeDevice>(memory, script);
            return r;
        });
    }

    void Run(app::RunCommand command, bool pack = false) {
        app::SetRunMode(ctx, command, pack);
        app::ViewMap(ctx, app::DriveListEntry(catalogue, 'C'));
    }

    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        for (const auto& l : ctx.report.Main.Text.Lines)
            lines.push_back(l.Text);
        return lines;
    }
    bool Printed(const std::string& prefix) const {
        for (const auto& l : Lines()) {
            if (l.rfind(prefix, 0) == 0) return true;
        }
        return false;
    }

    std::shared_ptr<platform::MemoryDevice> memory;
    platform::FakeScript script;
    std::function<void(bool writable, platform::FakeScript&)> beforeOpen;
    platform::VolumeCatalogue catalogue;
    platform::QuietUiHost ui;
    platform::ManualClock clock;
    RunContext ctx{catalogue, ui, clock};
};

image::FatImage Volume(const ImageOptions& options, bool lostChain) {
    ImageBuilder b(options);
    const auto docs = b.AddFolder(b.Root(), "DOCS");
    b.AddFile(docs, "A.BIN", SeededBytes(1, 3000), {{40, 3}, {50, 3}});
    b.AddFile(b.Root(), "B.BIN", SeededBytes(2, 100));
    b.AddFile(b.Root(), "EMPTY.TXT", {});
    image::FatImage img = b.Build();
    if (lostChain) testing::AddLostChain(img, {{100, 2}});
    return img;
}

TEST(RunDriverTest, AFastViewCountsChainsOnly) {
    Launch l(Volume(ImageOptions::Floppy1440(), false));
    l.Run(app::RunCommand::FastView);
    EXPECT_EQ(l.Lines(), (std::vector<std::string>{
                             "Drive=c:  FAT", "AllocUnit=0Kb  Size=1.39Mb", "Map Scale=0 Kb/Box",
                             "Chains=3", "Small free Space=21.5Kb", "Large free space=1.37Mb"}));
    EXPECT_FALSE(l.Printed("Files="));
    EXPECT_FALSE(l.Printed("Gaps="));
    EXPECT_EQ(l.ctx.Caption, "Fast View c:");
    EXPECT_EQ(l.ui.boxes, 0);
    EXPECT_TRUE(l.ctx.RunDone);
}

// Another program holds the volume open, so only a shared lock can be had, and it
// writes to the volume during the first `touchedPasses` passes.
void SharedAndTouched(Launch& l, int touchedPasses) {
    l.beforeOpen = [&l, touchedPasses](bool, platform::FakeScript& s) {
        s.allowLock = [](int level) { return level != 0; };
        // Each pass opens the volume once (the launch's opens come at pass 0).
        // LockIt's write-lock test reads the state twice; the chain count test once.
        s.lockFlagStates = {0, 0, l.ctx.mode.RunPass <= touchedPasses ? 1 : 0};
    };
}

TEST(RunDriverTest, ASharedVolumeWrittenMeanwhileRestartsInsteadOfFailing) {
    Launch l(Volume(ImageOptions::Floppy1440(), true));
    SharedAndTouched(l, 2);
    const auto before = l.memory->Bytes();
    l.Run(app::RunCommand::CheckedView);
    EXPECT_TRUE(l.Printed("Shared volume"));
    EXPECT_EQ(l.ctx.mode.RunPass, 3);
    EXPECT_EQ(l.ctx.Caption, "Checked View c:  -  restart 2");
    // The third pass saw no foreign write: now the lost chain is an error.
    EXPECT_TRUE(l.Printed("Err=Files+Dirs=3 <> Chains=4"));
    EXPECT_EQ(l.ui.lastBoxText, report::StructureErrorText());
    EXPECT_EQ(l.memory->Bytes(), before);
}

TEST(RunDriverTest, EscStopsTheRunAtItsNextUnitOfWork) {
    Launch l(Volume(ImageOptions::Floppy1440(), false));
    l.ui.onEvents = [&] {
        if (l.ctx.report.Main.Text.Lines.size() >= 3) Form_KeyDown(l.ctx, 27);
    };
    l.Run(app::RunCommand::CheckedView);
    EXPECT_TRUE(l.Printed("User stop"));
    EXPECT_FALSE(l.Printed("Files="));
    EXPECT_FALSE(l.ctx.io.VolumeHandle);
    EXPECT_EQ(l.ui.boxes, 0);
}

TEST(RunDriverTest, AVolumeWithOneFatIsRefusedAtLaunch) {
    ImageOptions options = ImageOptions::Floppy1440();
    options.numFats = 1;
    Launch l(Volume(options, false));
    l.Run(app::RunCommand::CheckedView);
    EXPECT_EQ(l.Lines(), (std::vector<std::string>{"Err: FATs=1", "Unable to view c:\\"}));
}

// A writing run marks the volume before its first write and clears the mark as
// its last: cut after the mark, the volume stays marked and the next run says
// why it refuses; completed, the mark's bytes are as they were.
TEST(RunDriverTest, AWritingRunMarksTheVolumeInUseUntilItEnds) {
    for (const ImageOptions& options :
         {ImageOptions::Floppy1440(), ImageOptions::Fat16(32768, 1), ImageOptions::Fat32(1)}) {
        const image::FatImage img = Volume(options, false);
        const image::Layout& layout = img.layout();
        const bool fat32 = layout.type == image::FatType::kFat32;
        const size_t state = fat32 ? 65 : 37;
        // FAT entries 0 and 1 of each copy, as bytes.
        const size_t width = fat32 ? 8 : layout.type == image::FatType::kFat16 ? 4 : 3;
        auto entry1 = [&](const std::vector<uint8_t>& bytes) {
            std::vector<uint8_t> out;
            for (uint32_t copy = 0; copy < layout.numFats; ++copy) {
                const size_t at = size_t{layout.FatStartSector(copy)} * 512;
                out.insert(out.end(), bytes.begin() + at, bytes.begin() + at + width);
            }
            return out;
        };

        Launch cut(img);
        cut.script.crashAfterWrites = 1 + layout.numFats;  // the mark, nothing more
        cut.Run(app::RunCommand::Defrag, true);
        const std::vector<uint8_t>& marked = cut.memory->Bytes();
        EXPECT_EQ(marked[state] & 1, 1);
        if (layout.type == image::FatType::kFat16) {
            EXPECT_EQ(entry1(marked)[3] & 0x80, 0);
            EXPECT_EQ(entry1(marked)[4 + 3] & 0x80, 0);
        }
        if (fat32) {
            EXPECT_EQ(entry1(marked)[8 + 7] & 0x08, 0);
        }

        image::FatImage again = img;
        std::copy(marked.begin(), marked.end(), again.bytes().begin());
        Launch next(again);
        next.Run(app::RunCommand::Defrag, true);
        EXPECT_TRUE(next.Printed(
            "Err=Volume dirty: a run or mount on it was interrupted; fsck.fat -a repairs it"));
        EXPECT_EQ(next.memory->Bytes(), again.bytes());

        Launch whole(img);
        whole.Run(app::RunCommand::Defrag, true);
        EXPECT_TRUE(whole.Printed("Moved: Files="));
        EXPECT_EQ(whole.memory->Bytes()[state], img.bytes()[state]);
        EXPECT_EQ(entry1(whole.memory->Bytes()), entry1(img.bytes()));
    }
}

TEST(RunDriverTest, ARunWithNothingToMoveWritesNothingNotEvenTheMark) {
    ImageBuilder b(ImageOptions::Fat16());
    b.AddFile(b.Root(), "A.BIN", SeededBytes(1, 3000));
    b.AddFile(b.Root(), "B.BIN", SeededBytes(2, 100));
    const image::FatImage img = b.Build();
    Launch l(img);
    l.Run(app::RunCommand::Defrag, true);
    EXPECT_TRUE(l.Printed("Moved: None"));
    EXPECT_EQ(l.memory->Bytes(), img.bytes());
}

}  // namespace
}  // namespace kestra::run
