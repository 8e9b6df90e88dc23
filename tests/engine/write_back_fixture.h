#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../analysis/analysis_fixture.h"
#include "disk/volume_lock.h"
#include "engine/dir_write_back.h"
#include "engine/engine_context.h"
#include "engine/fat_write_back.h"
#include "support/image.h"
#include "support/image_checks.h"
#include "support/test_env.h"

namespace kestra::engine {

// An analysed volume held as a level-0 run, with the engine context over it.
struct WriteBackFixture : analysis::AnalysisFixture {
    explicit WriteBackFixture(const testing::FatImage& image) : AnalysisFixture(image) {
        io.Level0Lock = true;
        EXPECT_TRUE(Analyse()) << flags.ErrText;
        counters.DefragActive = true;
    }

    uint32_t RecordOf(const testing::FatImage& built, testing::NodeId id) const {
        const uint32_t start = built.Node(id).FirstCluster();
        const uint32_t r = RecordAt(start);
        if (r == 0) ADD_FAILURE() << "no record starts at " << start;
        return r;
    }

    // A move by hand in the mover's order: new chain in both FATs, the data, the
    // entry, the dot entries of a folder, the old chain freed.
    bool Move(uint32_t JJ, uint32_t Block) {
        fat::FileRec& rec = model.FileTab[JJ];
        fat::Extents old;
        const uint32_t blks = fat::GetExtents(run, rec.StartCluster, old);
        if (!Synch_Fat1(run, Block, blks)) return false;
        std::vector<uint8_t> cluster(size_t{geo.SectorsPerCluster} * 512);
        uint32_t to = Block;
        for (uint32_t k = 1; k <= old.Count(); ++k) {
            for (uint32_t c = old.Starts[k]; c < old.Starts[k] + old.Lens[k]; ++c, ++to) {
                io.SetNextSector(disk::ClusterToSector(geo, c));
                if (!io.ReadSectors(cluster.data(), cluster.size())) return false;
                io.SetNextSector(disk::ClusterToSector(geo, to));
                if (!io.WriteSectorsNext(cluster.data(), cluster.size())) return false;
            }
        }
        DirSector sector;
        uint32_t entryNo = 0;
        int64_t at = 0;
        if (!FAT_Read_Entry(run, JJ, sector, entryNo, at)) return false;
        if (!FAT_Update_Entry(run, JJ, Block, sector, entryNo, at)) return false;
        rec.StartCluster = Block;
        rec.Frags = 1;
        if (rec.Attr & format::kAttrDirectory) Fat_Fix_DotLinks(run, JJ, Block);
        if (flags.AbortRun != 0) return false;
        return Synch_Fat2(run, old);
    }

    std::vector<uint8_t>& Bytes() { return memory->Bytes(); }
    // The volume as it is now, with the builder's record of what it holds.
    testing::FatImage Now(const testing::FatImage& built) {
        return testing::FatImage(built.layout(), Bytes(), {}, {});
    }
    std::string Save() {
        testing::WriteFile(file.path(), Bytes());
        return file.path();
    }
    // Writes since the trace position `from`, as (first sector, count).
    std::vector<std::pair<uint64_t, uint32_t>> WritesSince(size_t from) const {
        std::vector<std::pair<uint64_t, uint32_t>> out;
        for (size_t i = from; i < fake->Trace().size(); ++i) {
            const platform::Transfer& t = fake->Trace()[i];
            if (t.write) out.emplace_back(t.first, t.count);
        }
        return out;
    }

    disk::LockContext lock{io, report, clock};
    Engine engine{run, lock, report, map, analysis, nullptr, nullptr, {}};
    testing::TempFile file;
};

// Both checkers agree the volume is sound and every file reads back as written.
inline ::testing::AssertionResult SoundAndIntact(WriteBackFixture& f,
                                                 const testing::FatImage& built) {
    const std::string path = f.Save();
    ::testing::AssertionResult clean = testing::FsckClean(path);
    if (!clean) return clean;
    return testing::ReadsBackIdentical(built, path);
}

}  // namespace kestra::engine
