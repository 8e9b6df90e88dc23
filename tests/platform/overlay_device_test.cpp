#include "platform/overlay_device.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/device_rates.h"
#include "platform/fake_device.h"
#include "platform/file_device.h"
#include "platform/memory_device.h"

namespace kestra::platform {
namespace {

std::vector<uint8_t> Sectors(uint32_t count, uint8_t fill) {
    return std::vector<uint8_t>(size_t{count} * kSectorSize, fill);
}

// Sector n of the volume below holds n in every byte.
std::shared_ptr<MemoryDevice> Numbered(uint32_t sectors) {
    auto memory = std::make_shared<MemoryDevice>(sectors);
    for (uint32_t s = 0; s < sectors; ++s)
        std::memset(memory->Bytes().data() + size_t{s} * kSectorSize, s, kSectorSize);
    return memory;
}

std::unique_ptr<OverlayDevice> Overlay(std::shared_ptr<SectorDevice> below,
                                       std::shared_ptr<OverlaySectors> kept,
                                       FakeScript script = {}) {
    return std::make_unique<OverlayDevice>(std::make_unique<FakeDevice>(below, script), kept);
}

TEST(OverlayDeviceTest, WritesStayAboveTheVolumeAndOutliveAReopening) {
    const auto memory = Numbered(64);
    const std::vector<uint8_t> before = memory->Bytes();
    auto kept = std::make_shared<OverlaySectors>();
    auto first = Overlay(memory, kept);
    ASSERT_TRUE(first->Write(10, 2, Sectors(2, 0xEE).data()));
    ASSERT_TRUE(first->Write(11, 1, Sectors(1, 0xDD).data()));  // rewritten: one copy kept
    EXPECT_TRUE(first->Flush());
    EXPECT_TRUE(first->Close());
    EXPECT_FALSE(first->Read(0, 1, Sectors(1, 0).data()));  // closed

    // A restart opens the volume again and reads what the run wrote.
    auto again = Overlay(memory, kept);
    std::vector<uint8_t> got = Sectors(4, 0);
    ASSERT_TRUE(again->Read(9, 4, got.data()));
    EXPECT_EQ(got[0], 9);
    EXPECT_EQ(got[kSectorSize], 0xEE);
    EXPECT_EQ(got[2 * kSectorSize + 511], 0xDD);
    EXPECT_EQ(got[3 * kSectorSize], 12);
    EXPECT_EQ(kept->Count(), 2u);
    EXPECT_EQ(kept->flushes, 1u);
    EXPECT_EQ(memory->Bytes(), before);

    // A transfer past the end fails and keeps nothing, as on the device.
    EXPECT_FALSE(again->Write(63, 2, Sectors(2, 1).data()));
    EXPECT_EQ(kept->Count(), 2u);
}

TEST(OverlayDeviceTest, ASectorTheVolumeCannotReadFailsEvenWhenWritten) {
    const auto memory = Numbered(16);
    FakeScript script;
    script.failReadSector = 5;
    auto kept = std::make_shared<OverlaySectors>();
    auto device = Overlay(memory, kept, script);
    ASSERT_TRUE(device->Write(5, 1, Sectors(1, 0x42).data()));
    EXPECT_FALSE(device->Read(4, 2, Sectors(2, 0).data()));
    EXPECT_TRUE(device->Read(6, 1, Sectors(1, 0).data()));
}

TEST(OverlayDeviceTest, LocksAndBarriersAreTheDevicesOwn) {
    auto kept = std::make_shared<OverlaySectors>();
    FakeScript busy;
    busy.foreignLock = 1;  // another program holds the volume
    auto device = Overlay(Numbered(8), kept, busy);
    EXPECT_EQ(device->LockState(), 1);
    EXPECT_FALSE(device->Lock(0, false));
    EXPECT_TRUE(device->GuardsSharedWrites());
    auto alone = Overlay(Numbered(8), kept);
    EXPECT_TRUE(alone->Lock(0, false));
    EXPECT_EQ(alone->LockState(), 0);
    EXPECT_TRUE(alone->Unlock(0));
}

TEST(OverlayDeviceTest, CountsTheFirstWritesIntoHolesOfASparseImage) {
    const auto path = std::filesystem::temp_directory_path() / "kestra-overlay-sparse.img";
    {
        std::ofstream image(path, std::ios::binary);
        const std::vector<uint8_t> block = Sectors(8, 0x11);
        image.write(reinterpret_cast<const char*>(block.data()), 8 * kSectorSize);  // 0..7
        image.seekp(32 * kSectorSize);
        image.write(reinterpret_cast<const char*>(block.data()), 8 * kSectorSize);  // 32..39
        image.seekp(64 * kSectorSize - 1);
        image.put(0);  // 64 sectors, the last one data
    }
    OpenResult opened = OpenSectorDevice(path.string(), OpenOptions{});
    ASSERT_TRUE(opened.device) << opened.message;
    auto kept = std::make_shared<OverlaySectors>();
    OverlayDevice device(std::move(opened.device), kept);
    ASSERT_TRUE(device.Write(4, 8, Sectors(8, 1).data()));  // 4..7 data, 8..11 hole
    EXPECT_EQ(kept->holeSectors, 4u);
    ASSERT_TRUE(device.Write(8, 4, Sectors(4, 2).data()));  // written already: no new hole
    EXPECT_EQ(kept->holeSectors, 4u);
    ASSERT_TRUE(device.Write(10, 24, Sectors(24, 3).data()));  // 12..31 new holes
    EXPECT_EQ(kept->holeSectors, 24u);
    EXPECT_TRUE(device.Close());
    std::filesystem::remove(path);
}

TEST(DeviceRatesTest, MeasuresBesideAnImageAndLeavesNothingThere) {
    const auto folder = std::filesystem::temp_directory_path() / "kestra-rates-test";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directory(folder);
    const auto image = folder / "vol.img";
    std::vector<uint8_t> bytes(3 * kSectorSize);  // smaller than one sample
    std::ofstream(image).write(reinterpret_cast<const char*>(bytes.data()), 3 * kSectorSize);
    MemoryDevice device(bytes);
    const DeviceRates rates = MeasureDeviceRates(device, image.string() + "@1");
    EXPECT_GT(rates.readBytesPerSecond, 0);
    EXPECT_FALSE(rates.writesAssumed);
    EXPECT_GT(rates.writeBytesPerSecond, 0);
    EXPECT_GT(rates.barrierSeconds, 0);
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        left.push_back(entry.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"vol.img"});
    std::filesystem::remove_all(folder);

    // Nowhere to write: the write side is assumed from the read rate.
    const DeviceRates assumed = MeasureDeviceRates(device, (folder / "gone.img").string());
    EXPECT_TRUE(assumed.writesAssumed);
    EXPECT_DOUBLE_EQ(assumed.writeBytesPerSecond, assumed.readBytesPerSecond * kAssumedWriteShare);
    EXPECT_DOUBLE_EQ(assumed.barrierSeconds, kAssumedBarrierSeconds);
}

}  // namespace
}  // namespace kestra::platform
