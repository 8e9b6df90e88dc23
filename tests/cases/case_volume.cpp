// What case recipes need beyond mkfs.fat and mtools: a volume of the damage
// table, the volume of a random seed, a file in more pieces than a chain may
// have, a volume as a partition of a disk; and, for `after`, the layout of a
// volume as the tests' own reader finds it.
#include <iostream>
#include <span>
#include <string>

#include "image/mbr.h"
#include "image/random_volume.h"
#include "support/damage_table.h"
#include "support/test_env.h"
#include "support/volume_reader.h"

namespace kestra::testing {
namespace {

int Usage() {
    std::cerr
        << "usage: case-volume damage fat12|fat16|fat32 NAME OUT\n"
           "       case-volume random SEED OUT\n"
           "       case-volume pieces N OUT   (FAT16: A.BIN in N pieces woven with B.BIN)\n"
           "       case-volume mbr SLOT START IN OUT   (IN as partition SLOT at sector START)\n"
           "       case-volume layout IMG [OFFSET]   (every chain's runs, then the free runs)\n";
    return 64;
}

int Damage(const std::string& type, const std::string& name, const std::string& out) {
    const ImageOptions options = type == "fat12"   ? ImageOptions::Floppy1440()
                                 : type == "fat16" ? ImageOptions::Fat16(65536, 4)
                                                   : ImageOptions::Fat32(1);
    for (const DamageCase& c : DamageTable()) {
        if (c.name != name) continue;
        Damaged d = BuildDamageable(options);
        if (!c.damage(d)) {
            std::cerr << name << ": no such damage on " << type << "\n";
            return 1;
        }
        WriteFile(out, d.image.bytes());
        return 0;
    }
    std::cerr << name << ": not in the damage table\n";
    return 1;
}

// Two files of one-cluster pieces, A.BIN on the even clusters, B.BIN on the odd.
int Pieces(uint32_t pieces, const std::string& out) {
    ImageOptions options = ImageOptions::Fat16(2 * pieces + 2000, 1);
    ImageBuilder b(options);
    Runs a, bb;
    for (uint32_t i = 0; i < pieces; ++i) {
        a.push_back({10 + 2 * i, 1});
        bb.push_back({11 + 2 * i, 1});
    }
    b.AddFile(b.Root(), "A.BIN", SeededBytes(1, size_t{pieces} * 512), a);
    b.AddFile(b.Root(), "B.BIN", SeededBytes(2, size_t{pieces} * 512), bb);
    WriteFile(out, b.Build().bytes());
    return 0;
}

// "5-9 12 14-20": the runs of a chain, in chain order.
std::string Runs(const std::vector<uint32_t>& clusters) {
    std::string text;
    for (size_t i = 0, first = 0; i < clusters.size(); ++i) {
        if (i + 1 < clusters.size() && clusters[i + 1] == clusters[i] + 1) continue;
        text += (text.empty() ? "" : " ") + std::to_string(clusters[first]);
        if (i != first) text += "-" + std::to_string(clusters[i]);
        first = i + 1;
    }
    return text;
}

// Read by the tests' own reader, not the core's: every chain and the free runs.
int PrintLayout(const std::string& image, size_t offset) {
    const std::vector<uint8_t> bytes = ReadFile(image);
    const ReadVolume v = ReadFatVolume(std::span(bytes).subspan(offset));
    for (const ReadItem& item : v.items) {
        const std::string runs = Runs(item.clusters);
        std::cout << (item.folder ? "folder " : "file ") << item.path << (runs.empty() ? "" : " ")
                  << runs << "\n";
    }
    std::cout << "free";
    for (const auto& [start, length] : v.gaps)
        std::cout << " " << start << "-" << start + length - 1;
    std::cout << " (last cluster " << v.maxCluster << ")\n";
    if (!v.error.empty()) std::cout << "error: " << v.error << "\n";
    return 0;
}

}  // namespace
}  // namespace kestra::testing

int main(int argc, char** argv) {
    using namespace kestra::testing;
    const std::string what = argc > 1 ? argv[1] : "";
    if (what == "damage" && argc == 5) return Damage(argv[2], argv[3], argv[4]);
    if (what == "random" && argc == 4) {
        WriteFile(argv[3], kestra::image::MakeRandomVolume(std::stoul(argv[2])).Bytes());
        return 0;
    }
    if (what == "pieces" && argc == 4) return Pieces(std::stoul(argv[2]), argv[3]);
    if (what == "mbr" && argc == 6) {
        WriteFile(argv[5], WrapInMbr(ReadFile(argv[4]), std::stoi(argv[2]), std::stoul(argv[3])));
        return 0;
    }
    if (what == "layout" && (argc == 3 || argc == 4))
        return PrintLayout(argv[2], argc == 4 ? std::stoul(argv[3]) : 0);
    return Usage();
}
