// Another program writing or opening the image while a defragmentation runs:
// nothing on Linux locks an image against it, so the run must notice and write
// nothing more.
#include <gtest/gtest.h>

#include <cstring>

#include "app/launch.h"
#include "platform/fake_device.h"
#include "platform/memory_device.h"
#include "run/run_context.h"
#include "support/image.h"
#include "support/image_checks.h"
#include "support/image_damage.h"
#include "support/test_env.h"
#include "support/tree_checks.h"

namespace kestra::testing {
namespace {

// Ten files in the root, each in two pieces, with the free space in front.
FatImage Fragmented() {
    ImageBuilder b(ImageOptions::Fat16());
    for (uint32_t i = 0; i < 10; ++i) {
        b.AddFile(b.Root(), "F" + std::to_string(i) + ".BIN", SeededBytes(i + 1, 4096),
                  {{60 + 10 * i, 2}, {300 + 10 * i, 2}});
    }
    return b.Build();
}

struct Foreign {
    std::shared_ptr<platform::MemoryDevice> memory;
    std::vector<uint8_t> afterIt;  // the image the moment the other program was done
    run::RunContext* ctx = nullptr;
};

// Runs a defragmentation on drive C: while another program acts at the first
// barrier after the in-use mark (boot sector, then both FAT copies, each behind
// a barrier): the first step of the first moves is then on the medium.
std::vector<uint8_t> DefragWithForeign(const FatImage& img, bool opens,
                                       std::function<void(platform::SectorDevice&)> write,
                                       bool& restarted) {
    Foreign f{std::shared_ptr<platform::MemoryDevice>(img.ToDevice()), {}};
    platform::FakeScript script;
    script.foreignAtBarrier = 4;
    script.foreignOpens = opens;
    script.foreignWrite = [&f, write](platform::SectorDevice& inner) {
        if (write) write(inner);
        f.afterIt = f.memory->Bytes();
    };
    platform::VolumeCatalogue catalogue;
    catalogue.MapDevice('C', [&](const platform::OpenOptions&) {
        platform::OpenResult r;
        r.device = std::make_unique<platform::FakeDevice>(f.memory, script);
        return r;
    });
    platform::QuietUiHost ui;
    platform::ManualClock clock;
    run::RunContext ctx{catalogue, ui, clock};
    app::SetRunMode(ctx, app::RunCommand::Defrag, /*pack=*/true);
    app::ViewMap(ctx, app::DriveListEntry(catalogue, 'C'));
    EXPECT_FALSE(f.afterIt.empty()) << "the run never reached its first barrier";
    EXPECT_TRUE(f.afterIt == f.memory->Bytes()) << "written after the other program";
    EXPECT_TRUE(ctx.flags.RunError) << "a run another program wrote under ended as clean";
    restarted = ctx.mode.RunPass > 1;
    return f.memory->Bytes();
}

TEST(ForeignWriterTest, AnotherProgramsEntryStopsTheRunBeforeItIsOverwritten) {
    const FatImage img = Fragmented();
    const uint32_t rootSector = img.layout().firstRootSector;
    // mcopy adding an empty file in the first free slot of the root.
    auto addFile = [rootSector](platform::SectorDevice& inner) {
        uint8_t sector[512];
        ASSERT_TRUE(inner.Read(rootSector, 1, sector));
        const RawEntry e = ShortEntry(PackShortName("FOREIGN.TXT"), format::kAttrArchive, 0, 0);
        std::memcpy(sector + 10 * 32, e.data(), 32);
        ASSERT_TRUE(inner.Write(rootSector, 1, sector));
    };
    bool restarted = false;
    const std::vector<uint8_t> bytes = DefragWithForeign(img, false, addFile, restarted);
    // The pass starts again from a fresh analysis, which finds the chains made
    // before the stop without entries and refuses to write.
    EXPECT_TRUE(restarted);

    TempFile file;
    WriteFile(file.path(), bytes);
    EXPECT_TRUE(FsckAtWorstLostClusters(file.path()));
    EXPECT_TRUE(ReadsBackIdentical(img, file.path()));
    const CommandResult dir = Mdir(file.path());
    EXPECT_NE(dir.output.find("FOREIGN  TXT"), std::string::npos) << dir.output;
}

TEST(ForeignWriterTest, AnotherProgramOpeningTheImageStopsTheRun) {
    const FatImage img = Fragmented();
    bool restarted = false;
    const std::vector<uint8_t> bytes = DefragWithForeign(img, true, {}, restarted);
    TempFile file;
    WriteFile(file.path(), bytes);
    EXPECT_TRUE(FsckAtWorstLostClusters(file.path()));
    EXPECT_TRUE(ReadsBackIdentical(img, file.path()));
}

}  // namespace
}  // namespace kestra::testing
