#include "image/fat_layout.h"

#include <stdexcept>

#include "format/fat_entry.h"

namespace kestra::image {

namespace {

uint64_t FatBytesFor(FatType type, uint64_t entries) {
    switch (type) {
        case FatType::kFat12:
            return (entries * 3 + 1) / 2;
        case FatType::kFat16:
            return entries * 2;
        case FatType::kFat32:
            return entries * 4;
    }
    return 0;
}

uint32_t RootDirSectors(uint32_t rootEntries) {
    return (rootEntries * 32 + format::kSectorSize - 1) / format::kSectorSize;
}

// One pass with fixed reserved size and root size; the type is forced or follows
// the cluster count at each candidate FAT size.
Layout Solve(const ImageOptions& opts, uint32_t reserved, uint32_t rootEntries) {
    if (opts.sectorsPerCluster == 0 || (opts.sectorsPerCluster & (opts.sectorsPerCluster - 1)))
        throw std::invalid_argument("sectors per cluster must be a power of two");
    if (opts.numFats == 0) throw std::invalid_argument("a volume needs at least one FAT");
    Layout l;
    l.totalSectors = opts.totalSectors;
    l.sectorsPerCluster = opts.sectorsPerCluster;
    l.reservedSectors = reserved;
    l.numFats = opts.numFats;
    l.rootEntries = rootEntries;
    l.rootDirSectors = RootDirSectors(rootEntries);
    const uint64_t fixed = uint64_t{reserved} + l.rootDirSectors;
    auto tryFatSize = [&](uint32_t fs) {
        const uint64_t used = fixed + uint64_t{opts.numFats} * fs;
        if (used + opts.sectorsPerCluster > opts.totalSectors)
            throw std::invalid_argument("volume too small for its metadata and one cluster");
        l.fatSectors = fs;
        l.clusterCount = static_cast<uint32_t>((opts.totalSectors - used) / opts.sectorsPerCluster);
        l.type = opts.forceType ? *opts.forceType : TypeForClusterCount(l.clusterCount);
        return uint64_t{fs} * format::kSectorSize >=
               FatBytesFor(l.type, uint64_t{l.clusterCount} + 2);
    };
    if (opts.fatSectors != 0) {
        if (!tryFatSize(opts.fatSectors))
            throw std::invalid_argument("given FAT size cannot map every cluster");
    } else {
        uint32_t fs = 1;
        while (!tryFatSize(fs))
            ++fs;
    }
    l.firstRootSector = reserved + l.numFats * l.fatSectors;
    l.firstDataSector = l.firstRootSector + l.rootDirSectors;
    return l;
}

}  // namespace

const char* FatTypeName(FatType type) {
    switch (type) {
        case FatType::kFat12:
            return "FAT12";
        case FatType::kFat16:
            return "FAT16";
        case FatType::kFat32:
            return "FAT32";
    }
    return "?";
}

FatType TypeForClusterCount(uint32_t clusters) {
    switch (format::FatTypeForClusters(clusters)) {
        case format::FatType::Fat12:
            return FatType::kFat12;
        case format::FatType::Fat16:
            return FatType::kFat16;
        default:
            return FatType::kFat32;
    }
}

format::FatType FormatType(FatType type) {
    switch (type) {
        case FatType::kFat12:
            return format::FatType::Fat12;
        case FatType::kFat16:
            return format::FatType::Fat16;
        case FatType::kFat32:
            return format::FatType::Fat32;
    }
    return format::FatType::Unknown;
}

uint32_t Layout::EndOfChain() const {
    return format::EndOfChainMark(FormatType(type));
}

uint32_t Layout::BadMark() const {
    return format::BadClusterMark(FormatType(type));
}

uint32_t Layout::EntryMask() const {
    return EndOfChain();
}

ImageOptions ImageOptions::Floppy1440() {
    ImageOptions s;
    s.totalSectors = 2880;
    s.sectorsPerCluster = 1;
    s.reservedSectors = 1;
    s.rootEntries = 224;
    s.media = 0xF0;
    s.sectorsPerTrack = 18;
    s.heads = 2;
    return s;
}

ImageOptions ImageOptions::Fat16(uint32_t totalSectors, uint8_t sectorsPerCluster) {
    ImageOptions s;
    s.totalSectors = totalSectors;
    s.sectorsPerCluster = sectorsPerCluster;
    s.rootEntries = 512;
    return s;
}

ImageOptions ImageOptions::Fat32(uint8_t sectorsPerCluster) {
    ImageOptions s;
    s.sectorsPerCluster = sectorsPerCluster;
    return OptionsForClusterCount(FatType::kFat32, kMinFat32Clusters + 100, s);
}

Layout ComputeLayout(const ImageOptions& opts) {
    const bool auto32 = !opts.forceType.has_value();
    auto reservedFor = [&](FatType t) -> uint32_t {
        if (opts.reservedSectors) return opts.reservedSectors;
        return t == FatType::kFat32 ? 32 : 1;
    };
    Layout l;
    if (opts.forceType) {
        const bool is32 = *opts.forceType == FatType::kFat32;
        l = Solve(opts, reservedFor(*opts.forceType), is32 ? 0 : opts.rootEntries);
    } else {
        l = Solve(opts, reservedFor(FatType::kFat16), opts.rootEntries);
        if (l.type == FatType::kFat32) {
            l = Solve(opts, reservedFor(FatType::kFat32), 0);
            if (auto32 && l.type != FatType::kFat32)
                throw std::invalid_argument(
                    "geometry sits on the FAT16/FAT32 edge; use OptionsForClusterCount");
        }
    }
    if (l.type == FatType::kFat32) {
        if (l.reservedSectors < 8)
            throw std::invalid_argument("FAT32 needs room for FSInfo and the backup boot sector");
        l.rootCluster = opts.rootCluster;
    }
    return l;
}

ImageOptions OptionsForClusterCount(FatType type, uint32_t clusters, ImageOptions base) {
    const FatType fatType = base.forceType ? *base.forceType : type;
    if (!base.forceType && TypeForClusterCount(clusters) != type)
        throw std::invalid_argument("cluster count does not give the wanted FAT type");
    const bool is32 = fatType == FatType::kFat32;
    const uint32_t reserved = base.reservedSectors ? base.reservedSectors : (is32 ? 32 : 1);
    const uint32_t rootSectors = is32 ? 0 : RootDirSectors(base.rootEntries);
    const uint32_t fs = base.fatSectors
                            ? base.fatSectors
                            : static_cast<uint32_t>((FatBytesFor(fatType, uint64_t{clusters} + 2) +
                                                     format::kSectorSize - 1) /
                                                    format::kSectorSize);
    base.totalSectors =
        reserved + base.numFats * fs + rootSectors + clusters * uint32_t{base.sectorsPerCluster};
    const Layout check = ComputeLayout(base);
    if (check.clusterCount != clusters || check.type != fatType)
        throw std::invalid_argument("no total size gives that cluster count with this geometry");
    return base;
}

}  // namespace kestra::image
