#include "platform/file_device.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

namespace kestra::platform {
namespace {

namespace fs = std::filesystem;

class FileDeviceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        path_ = fs::temp_directory_path() /
                ("kestra-filedev-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".img");
    }
    void TearDown() override { fs::remove(path_); }

    // A disk of 4096 sectors; sector n holds n in its first four bytes. Partition
    // slot 2 covers sectors 2048..3071.
    void WriteDisk() {
        std::vector<uint8_t> disk(4096 * 512);
        for (uint32_t s = 1; s < 4096; ++s)
            std::memcpy(&disk[s * 512], &s, 4);
        const uint32_t slot2[2] = {2048, 1024};  // first sector, sector count
        disk[446 + 16 + 4] = 0x0C;
        std::memcpy(&disk[446 + 16 + 8], slot2, 8);
        disk[510] = 0x55, disk[511] = 0xAA;
        std::ofstream(path_, std::ios::binary)
            .write(reinterpret_cast<char*>(disk.data()), disk.size());
    }

    std::string Path() const { return path_.string(); }
    fs::path path_;
};

uint32_t FirstWord(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

TEST_F(FileDeviceTest, PartitionIsReadAndWrittenAtItsOffsetAndBounded) {
    WriteDisk();
    OpenOptions rw;
    rw.writable = true;
    OpenResult opened = OpenSectorDevice(Path() + "@2", rw);
    ASSERT_TRUE(opened.device) << opened.message;
    SectorDevice& dev = *opened.device;
    EXPECT_EQ(dev.SectorCount(), 1024u);

    uint8_t buf[2 * 512];
    ASSERT_TRUE(dev.Read(0, 2, buf));
    EXPECT_EQ(FirstWord(buf), 2048u);
    EXPECT_EQ(FirstWord(buf + 512), 2049u);
    ASSERT_TRUE(dev.Read(1023, 1, buf));
    EXPECT_EQ(FirstWord(buf), 3071u);
    EXPECT_FALSE(dev.Read(1023, 2, buf));  // reaches past the partition

    std::memset(buf, 0xEE, sizeof buf);
    EXPECT_FALSE(dev.Write(1024, 1, buf));
    ASSERT_TRUE(dev.Write(1, 1, buf));
    opened.device.reset();

    OpenResult whole = OpenSectorDevice(Path(), OpenOptions{});
    ASSERT_TRUE(whole.device);
    ASSERT_TRUE(whole.device->Read(2049, 1, buf));
    EXPECT_EQ(buf[0], 0xEE);
    ASSERT_TRUE(whole.device->Read(3072, 1, buf));
    EXPECT_EQ(FirstWord(buf), 3072u);  // the sector after the partition is untouched
    // Barriers are on unless the user turned them off for an image.
    EXPECT_TRUE(whole.device->HasBarriers() && whole.device->Flush());
    OpenOptions cached;
    cached.writable = true;
    cached.writeThrough = false;
    EXPECT_FALSE(OpenSectorDevice(Path(), cached).device->HasBarriers());
}

TEST_F(FileDeviceTest, LevelZeroExcludesOtherOpenersInThisAndOtherProcesses) {
    WriteDisk();
    OpenOptions rw;
    rw.writable = true;
    DevicePtr first = OpenSectorDevice(Path(), rw).device;
    DevicePtr second = OpenSectorDevice(Path(), rw).device;
    ASSERT_TRUE(first && second);

    ASSERT_TRUE(first->Lock(0, false));
    EXPECT_EQ(first->LockState(), 0);
    EXPECT_FALSE(second->Lock(0, false));
    EXPECT_FALSE(second->Lock(1, true));

    const pid_t child = ::fork();
    if (child == 0) {
        DevicePtr other = OpenSectorDevice(Path(), rw).device;
        ::_exit(other && !other->Lock(0, false) ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    ASSERT_TRUE(first->Unlock(0));
    EXPECT_EQ(first->LockState(), -1);
    EXPECT_TRUE(second->Lock(0, false));
    first.reset();  // closing never drops another opener's lock
    EXPECT_EQ(second->LockState(), 0);
}

// The kernel's list of loop devices, as /sys/block shows it, with a device
// reading from `backing`.
void FakeLoop(const fs::path& sysBlock, const std::string& name, const std::string& backing) {
    fs::create_directories(sysBlock / name / "loop");
    std::ofstream(sysBlock / name / "loop" / "backing_file") << backing << "\n";
}

TEST_F(FileDeviceTest, AnImageALoopDeviceReadsFromIsBusy) {
    WriteDisk();
    const fs::path sysBlock = path_.string() + ".sys";
    fs::create_directories(sysBlock / "sda");
    FakeLoop(sysBlock, "loop0", "/nonexistent.img");
    OpenOptions rw;
    rw.writable = true;
    rw.sysBlock = sysBlock.string();
    EXPECT_TRUE(OpenSectorDevice(Path(), rw).device) << "no loop device reads from it yet";

    // Named by another path to the same file, as after losetup in another folder.
    const fs::path link = path_.string() + ".link";
    fs::create_symlink(path_, link);
    FakeLoop(sysBlock, "loop7", link.string());
    for (const bool writable : {true, false}) {
        rw.writable = writable;
        const OpenResult opened = OpenSectorDevice(Path() + "@2", rw);
        EXPECT_FALSE(opened.device);
        EXPECT_EQ(opened.error, OpenError::Busy);
        EXPECT_NE(opened.message.find("/dev/loop7"), std::string::npos) << opened.message;
    }
    fs::remove(link);
    fs::remove_all(sysBlock);
}

TEST(LockTableTest, LevelsEscalateFromOneAndReleaseInOrder) {
    LockTable t;
    EXPECT_FALSE(t.CanLock(2));
    EXPECT_TRUE(t.CanLock(0));
    t.Push(1);
    EXPECT_FALSE(t.CanLock(0));
    EXPECT_FALSE(t.CanLock(3));
    EXPECT_TRUE(t.CanLock(2));
    t.Push(2);
    t.Push(3);
    EXPECT_FALSE(t.Pop(1));  // not the level on top
    EXPECT_TRUE(t.Pop(3));
    EXPECT_EQ(t.State(), 2);
}

}  // namespace
}  // namespace kestra::platform
