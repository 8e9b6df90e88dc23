#pragma once

#include "support/image_damage.h"
#include "write_back_fixture.h"

namespace kestra::engine {

// A volume analysed as a defragmentation's check leaves it, ready for the engine,
// held exclusively or shared.
struct EngineFixture : WriteBackFixture {
    explicit EngineFixture(const testing::FatImage& image, bool exclusive = true)
        : WriteBackFixture(image) {
        mode.DefragMode = 3;
        io.Level0Lock = exclusive;
        counters.FragmentedToDo = counters.FragmentedCount - counters.FragmentedFixedCount;
    }

    // fsck.fat finds the volume sound and every file of `built` reads back as built.
    ::testing::AssertionResult Sound(const testing::FatImage& built) {
        return SoundAndIntact(*this, built);
    }
};

}  // namespace kestra::engine
