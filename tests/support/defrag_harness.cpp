#include "support/defrag_harness.h"

#include <algorithm>
#include <memory>
#include <sstream>

#include "app/launch.h"
#include "platform/memory_device.h"
#include "report/error_boxes.h"
#include "run/run_context.h"

namespace kestra::testing {

namespace {

// The volume's window of a disk held in memory. It counts writes over every
// opening of a run, so a cut lands on the n-th write of the run whichever
// opening makes it, and a cut write may land in part.
class CutDevice : public platform::SectorDevice {
  public:
    CutDevice(std::vector<uint8_t> disk, uint32_t start, Cut cut)
        : disk_(std::move(disk)), start_(start), cut_(cut) {}

    bool Read(uint64_t first, uint32_t count, uint8_t* buffer) override {
        return InRange(first, count) && disk_.Read(start_ + first, count, buffer);
    }
    bool Write(uint64_t first, uint32_t count, const uint8_t* buffer) override {
        if (!InRange(first, count) || ++calls_ > cut_.after) return false;
        if (calls_ == cut_.after && cut_.tornSectors != 0) {
            const uint32_t landed = std::min(count, cut_.tornSectors);
            writes.push_back({true, first, landed});
            disk_.Write(start_ + first, landed, buffer);
            return false;
        }
        writes.push_back({true, first, count});
        return disk_.Write(start_ + first, count, buffer);
    }
    bool Flush() override { return true; }
    uint64_t SectorCount() const override { return sectors_; }
    int LockState() override { return disk_.LockState(); }
    bool Lock(int level, bool allowWrites) override { return disk_.Lock(level, allowWrites); }
    bool Unlock(int level) override { return disk_.Unlock(level); }
    int LockFlagState() override { return 0; }
    bool OpenFile(uint32_t, std::string&) override { return false; }

    void SetSectors(uint64_t sectors) { sectors_ = sectors; }
    std::vector<uint8_t>& Bytes() { return disk_.Bytes(); }
    std::vector<platform::Transfer> writes;

  private:
    bool InRange(uint64_t first, uint32_t count) const {
        return first <= sectors_ && count <= sectors_ - first;
    }

    platform::MemoryDevice disk_;
    uint32_t start_;
    Cut cut_;
    uint64_t sectors_ = 0;
    uint64_t calls_ = 0;
};

bool InFixedRoot(const Layout& l, const platform::Transfer& t) {
    return l.type != FatType::kFat32 && t.first < l.firstDataSector &&
           t.first + t.count > l.firstRootSector;
}

}  // namespace

bool Outcome::EndsWithStatistics() const {
    const size_t n = lines.size();
    return n >= 3 && lines[n - 2].rfind("Small free Space=", 0) == 0 &&
           lines[n - 1].rfind("Large free space=", 0) == 0 &&
           std::any_of(lines.begin(), lines.end(),
                       [](const std::string& l) { return l.rfind("Moved: ", 0) == 0; });
}

std::string Outcome::Printed() const {
    std::string out;
    for (const std::string& l : lines)
        out += "    " + l + "\n";
    return out + (box.empty() ? "" : "    error box: " + box + "\n");
}

Outcome DefragAndPack(const Subject& s, Cut cut) {
    auto device = std::make_shared<CutDevice>(s.Bytes(), s.start, cut);
    device->SetSectors(s.built.bytes().size() / 512);
    platform::VolumeCatalogue catalogue;
    catalogue.MapDevice('C', [&](const platform::OpenOptions&) {
        platform::OpenResult r;
        // Each opening holds its own locks, as a file opened again would.
        r.device = std::make_unique<platform::FakeDevice>(device);
        return r;
    });
    platform::QuietUiHost ui;
    platform::ManualClock clock;
    run::RunContext ctx{catalogue, ui, clock};
    app::SetRunMode(ctx, app::RunCommand::Defrag, /*pack=*/true);
    app::ViewMap(ctx, app::DriveListEntry(catalogue, 'C'));
    Outcome o{std::move(device->Bytes()), std::move(device->writes), ui.lastBoxText, {}};
    for (const auto& l : ctx.report.Main.Text.Lines)
        o.lines.push_back(l.Text);
    return o;
}

bool WriteVolume(const Subject& s, const std::vector<uint8_t>& bytes, const std::string& path) {
    if (!s.disk) {
        WriteFile(path, bytes);
        return true;
    }
    const size_t from = size_t{s.start} * 512;
    WriteFile(path, std::vector<uint8_t>(bytes.begin() + from,
                                         bytes.begin() + from + s.built.bytes().size()));
    return std::equal(bytes.begin(), bytes.begin() + from, s.disk->begin()) &&
           std::equal(bytes.begin() + from + s.built.bytes().size(), bytes.end(),
                      s.disk->begin() + from + s.built.bytes().size());
}

std::string Where(const FatImage& img, const platform::Transfer& t) {
    const Layout& l = img.layout();
    std::ostringstream s;
    s << "sectors " << t.first << "+" << t.count << " (";
    if (t.first < l.reservedSectors) {
        s << "reserved area";
    } else if (t.first < l.FatStartSector(l.numFats)) {
        s << "FAT copy " << (t.first - l.reservedSectors) / l.fatSectors + 1;
    } else if (t.first < l.firstDataSector) {
        s << "root folder";
    } else {
        const uint32_t c =
            static_cast<uint32_t>((t.first - l.firstDataSector) / l.sectorsPerCluster + 2);
        s << "cluster " << c;
        for (NodeId id = 0; id < img.NodeCount(); ++id) {
            const std::vector<uint32_t> chain = img.Node(id).Clusters();
            if (std::count(chain.begin(), chain.end(), c)) s << ", built for " << img.Node(id).path;
        }
    }
    return s.str() + ")";
}

CutReport EveryCut(const Subject& s, const Outcome& whole, bool torn) {
    const Tree want = BuiltTree(s.built);
    TempDir dir;
    const std::string path = dir.File("cut.img");
    CutReport report;
    auto check = [&](uint64_t n, uint32_t tornSectors) {
        const Outcome o = DefragAndPack(s, {n, tornSectors});
        const std::string name =
            std::to_string(n) + (tornSectors ? "/" + std::to_string(tornSectors) : "");
        ++report.cuts;
        const bool outside = !WriteVolume(s, o.bytes, path);
        Tree got;
        auto same = CopyOutTree(path, got);
        // Only a cut inside the fixed root may leave a root entry standing twice.
        const platform::Transfer& cutWrite = whole.writes[n - 1];
        const Layout& layout = s.built.layout();
        const bool inRoot = InFixedRoot(layout, cutWrite);
        if (same) same = SameTree(want, got, inRoot);
        const bool tornFat12 = tornSectors != 0 && layout.type == FatType::kFat12 &&
                               cutWrite.first < layout.FatStartSector(layout.numFats);
        const auto plain = FsckAtWorstLostClusters(path);
        const auto fsck = plain ? plain
                                : FsckAtWorstLostClusters(path, {.staleDotDot = true,
                                                                 .entryTwice = inRoot,
                                                                 .tornFat12Entry = tornFat12});
        if (same && fsck && !outside && o.box == report::DiskErrorText() && o.writes.size() == n) {
            if (!plain) report.windows += " " + name;
            return;
        }
        report.failed += " " + name;
        if (report.details.size() >= 4) return;
        std::ostringstream d;
        d << "cut after write " << name << " of " << whole.writes.size()
          << ", cut write: " << Where(s.built, cutWrite);
        if (n < whole.writes.size()) d << ", next: " << Where(s.built, whole.writes[n]);
        d << "\n";
        if (o.writes.size() != n) d << "  the run made " << o.writes.size() << " writes\n";
        if (o.box != report::DiskErrorText()) d << "  error box: '" << o.box << "'\n";
        if (outside) d << "  written outside the partition\n";
        if (!same) d << "  " << same.message() << "\n";
        if (!fsck) d << "  " << fsck.message() << "\n";
        report.details.push_back(d.str());
    };
    for (uint64_t n = 1; n <= whole.writes.size(); ++n) {
        const uint32_t count = whole.writes[n - 1].count;
        if (n < whole.writes.size()) check(n, 0);
        if (torn && count > 1) check(n, (count + 1) / 2);
        if (torn && count > 2) check(n, 1);
    }
    return report;
}

}  // namespace kestra::testing
