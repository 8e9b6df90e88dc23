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
        if (cut_.after == Cut::kNone) data.emplace_back(buffer, buffer + size_t{count} * 512);
        return disk_.Write(start_ + first, count, buffer);
    }
    bool Flush() override {
        if (barriers.empty() || barriers.back() != writes.size()) barriers.push_back(writes.size());
        return true;
    }
    uint64_t SectorCount() const override { return sectors_; }
    int LockState() override { return disk_.LockState(); }
    bool Lock(int level, bool allowWrites) override { return disk_.Lock(level, allowWrites); }
    bool Unlock(int level) override { return disk_.Unlock(level); }
    int LockFlagState() override { return 0; }
    bool OpenFile(uint32_t, std::string&) override { return false; }

    void SetSectors(uint64_t sectors) { sectors_ = sectors; }
    std::vector<uint8_t>& Bytes() { return disk_.Bytes(); }
    std::vector<platform::Transfer> writes;
    std::vector<std::vector<uint8_t>> data;  // of each write, in an uncut run
    std::vector<size_t> barriers;

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

// The run's in-use mark: the boot sector's dirty flag, or the clean-shutdown
// bit of FAT entry 1 cleared in the first FAT.
bool MarkedInUse(const std::vector<uint8_t>& bytes, uint32_t start, const Layout& l) {
    const uint8_t* boot = &bytes[size_t{start} * 512];
    const size_t state = l.type == FatType::kFat32 ? 65 : 37;
    if ((boot[state + 1] == 0x29 || boot[state + 1] == 0x28) && (boot[state] & 1) != 0) return true;
    const uint8_t* fat = boot + size_t{l.FatStartSector(0)} * 512;
    if (l.type == FatType::kFat16) return (fat[3] & 0x80) == 0;
    return l.type == FatType::kFat32 && (fat[7] & 0x08) == 0;
}

const char kDirtyRefusal[] =
    "Err=Volume dirty: a run or mount on it was interrupted; fsck.fat -a repairs it";

// The next run on what a cut left refuses it, saying why.
bool NextRunRefuses(const Subject& s, const std::vector<uint8_t>& bytes) {
    const Subject cut{s.built, &bytes, s.start, s.minimal};
    const Outcome next = DefragAndPack(cut);
    return next.writes.empty() &&
           std::find(next.lines.begin(), next.lines.end(), kDirtyRefusal) != next.lines.end();
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
    ctx.mode.MinimalMoves = s.minimal;
    app::ViewMap(ctx, app::DriveListEntry(catalogue, 'C'));
    Outcome o{std::move(device->Bytes()), std::move(device->writes),  ui.lastBoxText, {},
              std::move(device->data),    std::move(device->barriers)};
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
    const Layout& layout = s.built.layout();
    // Judges what a cut left; `ran` is the run cut there, when it was rerun.
    auto judge = [&](const std::string& name, const std::vector<uint8_t>& bytes,
                     const platform::Transfer& cutWrite, uint32_t tornSectors, const Outcome* ran,
                     const platform::Transfer* next) {
        ++report.cuts;
        const bool outside = !WriteVolume(s, bytes, path);
        Tree got;
        auto same = CopyOutTree(path, got);
        if (same) same = SameTree(want, got);
        const bool tornFat12 = tornSectors != 0 && layout.type == FatType::kFat12 &&
                               cutWrite.first < layout.FatStartSector(layout.numFats);
        const auto plain = FsckAtWorstLostClusters(path);
        const auto fsck = plain ? plain
                                : FsckAtWorstLostClusters(
                                      path, {.staleDotDot = true, .tornFat12Entry = tornFat12});
        const bool marked = MarkedInUse(bytes, s.start, layout);
        // The runs cut for real are repaired and rerun; the landing orders
        // between two barriers are judged as found.
        const auto repaired = ran ? RepairedByFsck(path, want) : ::testing::AssertionSuccess();
        const bool refused = !ran || NextRunRefuses(s, bytes);
        const bool stopped = !ran || (ran->box == report::DiskErrorText());
        if (same && fsck && !outside && stopped && marked && repaired && refused) {
            if (!plain) report.windows += " " + name;
            return;
        }
        report.failed += " " + name;
        if (report.details.size() >= 4) return;
        std::ostringstream d;
        d << "cut " << name << " of " << whole.writes.size()
          << " writes, cut write: " << Where(s.built, cutWrite);
        if (next) d << ", next: " << Where(s.built, *next);
        d << "\n";
        if (ran && ran->box != report::DiskErrorText()) d << "  error box: '" << ran->box << "'\n";
        if (outside) d << "  written outside the partition\n";
        if (!same) d << "  " << same.message() << "\n";
        if (!fsck) d << "  " << fsck.message() << "\n";
        if (!marked) d << "  the volume is not marked as in use\n";
        if (!repaired) d << "  " << repaired.message() << "\n";
        if (!refused) d << "  the next run does not refuse it as interrupted\n";
        report.details.push_back(d.str());
    };
    const size_t n = whole.writes.size();
    for (uint64_t k = 1; k <= n; ++k) {
        const platform::Transfer& cutWrite = whole.writes[k - 1];
        const platform::Transfer* next = k < n ? &whole.writes[k] : nullptr;
        for (const uint32_t t : {0u, (cutWrite.count + 1) / 2, 1u}) {
            if (t != 0 && (!torn || cutWrite.count <= (t == 1 ? 2u : 1u))) continue;
            if (t == 0 && k == n) continue;
            const Outcome o = DefragAndPack(s, {k, t});
            if (o.writes.size() != k) {
                report.failed += " " + std::to_string(k) + ":ran on";
                continue;
            }
            judge(std::to_string(k) + (t ? "/" + std::to_string(t) : ""), o.bytes, cutWrite, t, &o,
                  next);
        }
    }
    // Between two barriers the medium may take the writes in any order: each
    // write landed alone, and each missing alone, after the last barrier.
    std::vector<uint8_t> base = s.Bytes();
    auto apply = [&](std::vector<uint8_t>& bytes, size_t i) {
        const size_t at = (size_t{s.start} + whole.writes[i].first) * 512;
        std::copy(whole.data[i].begin(), whole.data[i].end(), bytes.begin() + at);
    };
    size_t from = 0;
    for (size_t b = 0; b <= whole.barriers.size() && from < n; ++b) {
        const size_t to = b < whole.barriers.size() ? whole.barriers[b] : n;
        for (size_t m = from; m < to && to - from >= 2; ++m) {
            ++report.reordered;
            if (m > from) {  // the first alone is the cut after it
                std::vector<uint8_t> alone = base;
                apply(alone, m);
                judge(std::to_string(m + 1) + "<", alone, whole.writes[m], 0, nullptr, nullptr);
            }
            if (m + 1 < to && to - from > 2) {  // the last missing is the cut before it
                std::vector<uint8_t> without = base;
                for (size_t i = from; i < to; ++i)
                    if (i != m) apply(without, i);
                judge(std::to_string(m + 1) + "~", without, whole.writes[m], 0, nullptr, nullptr);
            }
        }
        for (size_t i = from; i < to; ++i)
            apply(base, i);
        from = to;
    }
    return report;
}

}  // namespace kestra::testing
