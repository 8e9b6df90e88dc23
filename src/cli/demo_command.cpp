#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>

#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/options.h"
#include "cli/volume_args.h"
#include "image/image_builder.h"
#include "image/random_volume.h"
#include "platform/image_file.h"

namespace kestra::cli {
namespace {

// A 32 MB FAT16 volume as years of use leave one: folders with long names,
// files broken into pieces all over the volume, holes, erased entries.
image::FatImage BuildDemoVolume(uint32_t& files, uint32_t& fragmented) {
    image::ImageOptions options = image::ImageOptions::Fat16(65536, 4);
    options.label = "KESTRADEMO";
    image::ImageBuilder b(options);
    const uint32_t clusterBytes = 4 * format::kSectorSize;
    uint32_t next = 40;  // the first clusters are left to what gets no runs
    uint32_t seed = 1;
    auto place = [&](image::NodeId folder, const std::string& name, uint32_t clusters, int pieces) {
        image::Runs runs;
        pieces = std::min<int>(pieces, static_cast<int>(clusters));
        uint32_t left = clusters;
        for (int p = 0; p < pieces; ++p) {
            const uint32_t len =
                p + 1 == pieces ? left : std::max<uint32_t>(1, left / (pieces - p));
            runs.push_back({next, len});
            left -= len;
            next += len + 1 + (seed % 7);  // leave a hole behind every piece
        }
        if (pieces > 2) std::swap(runs.front(), runs.back());  // out of order on the disk
        const uint32_t size = clusters * clusterBytes - (seed * 37) % clusterBytes;
        b.AddFile(folder, name, image::SeededBytes(seed++, size), runs);
        ++files;
        if (pieces > 1) ++fragmented;
    };
    const auto docs = b.AddFolder(b.Root(), "Documents");
    const auto pictures = b.AddFolder(b.Root(), "Pictures");
    const auto music = b.AddFolder(b.Root(), "Music");
    const auto albums = b.AddFolder(music, "Albums");
    for (int i = 0; i < 12; ++i)
        place(docs, "Letter " + std::to_string(i + 1) + ".txt", 1 + i % 3, i % 2 + 1);
    for (int i = 0; i < 10; ++i)
        place(pictures, "Holiday photo " + std::to_string(i + 1) + ".jpg", 20 + i * 7, 1 + i % 4);
    for (int i = 0; i < 6; ++i)
        place(albums, "Track " + std::to_string(i + 1) + ".mp3", 200 + i * 90, 2 + i % 3);
    place(b.Root(), "README.TXT", 1, 1);
    place(b.Root(), "Disk image backup.bin", 1500, 5);
    b.AddErased(docs, {"Old draft.txt"});
    b.AddErased(b.Root(), {"TEMP.TMP"});
    b.AddFile(b.Root(), "EMPTY.TXT", {});
    return b.Build();
}

// The primary partition that starts at `start` on an MBR disk; 0 when none does.
int SlotAt(const std::vector<uint8_t>& disk, uint32_t start) {
    for (int slot = 1; slot <= 4; ++slot) {
        const uint8_t* e = &disk[446 + 16 * (slot - 1)];
        const uint32_t lba = e[8] | (e[9] << 8) | (e[10] << 16) | (uint32_t{e[11]} << 24);
        if (e[4] != 0 && lba == start) return slot;
    }
    return 0;
}

}  // namespace

int DemoCommand(std::vector<std::string> args) {
    // --seed N: the volume the random-volume tests make from seed N instead.
    const ParsedArgs parsed = ParseOptions(args, {{"seed", Arity::Value}});
    if (!parsed.error.empty()) {
        std::cerr << "kestra-cli demo: " << parsed.error << "\n";
        return kExitUsage;
    }
    std::optional<uint32_t> seed;
    if (parsed.Has("seed")) {
        const std::string n = parsed.Last("seed");
        char* end = nullptr;
        const unsigned long value = std::strtoul(n.c_str(), &end, 10);
        if (n.empty() || !std::isdigit(static_cast<unsigned char>(n[0])) || *end != 0 ||
            value > UINT32_MAX) {
            std::cerr << "kestra-cli demo: --seed needs a number\n";
            return kExitUsage;
        }
        seed = static_cast<uint32_t>(value);
    }
    if (parsed.operands.size() > 1) {
        std::cerr << "kestra-cli demo: at most one folder\n";
        return kExitUsage;
    }
    const std::filesystem::path dir = parsed.operands.empty() ? "kestra-demo" : parsed.operands[0];
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
        std::cerr << "kestra-cli demo: " << dir.string() << ": " << ec.message() << "\n";
        return kExitDisk;
    }
    uint32_t files = 0, fragmented = 0;
    std::string image = (dir / "demo.img").string();
    std::string error;
    std::string shape;
    if (seed) {
        const image::RandomVolume v = image::MakeRandomVolume(*seed);
        error = v.disk.empty() ? v.built.WriteTo(image) : platform::WriteImageFile(image, v.disk);
        shape = v.shape;
        if (!v.disk.empty()) image += "@" + std::to_string(SlotAt(v.disk, v.start));
    } else {
        error = BuildDemoVolume(files, fragmented).WriteTo(image);
    }
    if (!error.empty()) {
        std::cerr << "kestra-cli demo: " << error << "\n";
        return kExitDisk;
    }
    if (seed) {
        std::cout << "Volume of seed " << *seed << " " << image << ": " << shape
                  << ".\n\nBefore:\n";
    } else {
        std::cout << "Demo volume " << image << ": " << files << " files, " << fragmented
                  << " of them fragmented.\n\nBefore:\n";
    }

    ParsedArgs volumeArgs;
    volumeArgs.operands = {image};
    const VolumeArgs volume = ResolveVolume(volumeArgs);
    RunOptions before;
    before.map = true;
    before.png = (dir / "before.png").string();
    const int viewed = RunVolume("demo", app::RunCommand::FastView, before, volume);
    if (viewed != kExitClean) return viewed;

    std::cout << "\nDefragment and pack:\n";
    RunOptions defrag;
    defrag.map = true;
    defrag.png = (dir / "after.png").string();
    defrag.log = (dir / "defrag.log").string();
    defrag.truncateLog = true;  // a new volume, a new log
    const int status = RunVolume("demo", app::RunCommand::Defrag, defrag, volume);
    std::cout << "\nMaps: " << before.png << ", " << defrag.png << "; log: " << defrag.log << "\n";
    return status;
}

}  // namespace kestra::cli
