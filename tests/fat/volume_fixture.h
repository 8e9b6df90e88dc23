#pragma once

#include <gtest/gtest.h>

#include "display/cluster_map.h"
#include "fat/fat_run.h"
#include "fat_fixture.h"
#include "platform/fake_device.h"
#include "support/image.h"

namespace kestra::fat {

// A pass's state around a volume the image builder made, opened as drive C:
// through a fake device that records every transfer.
struct VolumeFixture : PassState {
    explicit VolumeFixture(const testing::FatImage& image) : VolumeFixture(image.bytes()) {}
    explicit VolumeFixture(std::vector<uint8_t> bytes)
        : memory(std::make_shared<platform::MemoryDevice>(std::move(bytes))) {
        catalogue.MapDevice('C', [this](const platform::OpenOptions&) {
            auto device = std::make_unique<platform::FakeDevice>(memory, script);
            fake = device.get();
            platform::OpenResult r;
            r.device = std::move(device);
            return r;
        });
        const platform::QueryResult query = catalogue.Query('C');
        EXPECT_TRUE(query.ok) << query.message;
        io.DriveLetter = "c:";
        io.VolumeHandle = io.OpenVolume("c:", disk::Access::ReadWrite);
        uint8_t boot[format::kSectorSize];
        EXPECT_EQ(io.ReadBootSector(boot), 0);
        disk::ComputeGeometry(geo, boot);
        geo.DriveText = "c:";
        counters.LastCluster = geo.ClusterCount + 1;
        counters.MapScale = static_cast<uint32_t>(display::MapScaleFor(geo.ClusterCount));
    }

    std::shared_ptr<platform::MemoryDevice> memory;
    platform::FakeScript script;
    platform::FakeDevice* fake = nullptr;
};

}  // namespace kestra::fat
