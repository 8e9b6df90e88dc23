#pragma once

#include "../analysis/analysis_fixture.h"
#include "engine/engine_context.h"
#include "support/image.h"
#include "support/image_checks.h"
#include "support/image_damage.h"
#include "support/test_env.h"

namespace kestra::engine {

// A volume analysed as a defragmentation's check leaves it, ready for the engine.
struct EngineFixture : analysis::AnalysisFixture {
    explicit EngineFixture(const testing::FatImage& image, bool exclusive = true)
        : analysis::AnalysisFixture(image) {
        mode.DefragMode = 3;
        EXPECT_TRUE(Analyse()) << flags.ErrText;
        io.Level0Lock = exclusive;
        counters.DefragActive = true;
        counters.FragmentedToDo = counters.FragmentedCount - counters.FragmentedFixedCount;
    }

    uint32_t RecordAt(uint32_t startCluster) const {
        for (uint32_t r = 1; r <= counters.FileCount; ++r) {
            if (model.FileTab[r].StartCluster == startCluster) return r;
        }
        return 0;
    }
    // Writes since the trace position `from`, as (first sector, sectors).
    std::vector<std::pair<uint64_t, uint32_t>> WritesSince(size_t from) const {
        std::vector<std::pair<uint64_t, uint32_t>> out;
        for (size_t i = from; i < fake->Trace().size(); ++i) {
            if (fake->Trace()[i].write)
                out.emplace_back(fake->Trace()[i].first, fake->Trace()[i].count);
        }
        return out;
    }
    // fsck.fat finds the volume sound and every file of `built` reads back as built.
    ::testing::AssertionResult Sound(const testing::FatImage& built) {
        testing::WriteFile(file.path(), memory->Bytes());
        ::testing::AssertionResult clean = testing::FsckClean(file.path());
        if (!clean) return clean;
        return testing::ReadsBackIdentical(built, file.path());
    }

    disk::LockContext lock{io, report, clock};
    Engine engine{run, lock, report, map, analysis};
    testing::TempFile file;
};

}  // namespace kestra::engine
