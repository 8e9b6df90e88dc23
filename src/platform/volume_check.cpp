#include "platform/volume_check.h"

#include <algorithm>
#include <vector>

#include "format/boot_sector.h"
#include "format/volume_signature.h"

namespace kestra::platform {

VolumeProblem CheckVolumeStart(SectorDevice& device, const uint8_t* sector0) {
    if (format::HasFatBootFields(sector0))
        return {format::CheckBootRecord(format::ParseBootRecord(sector0), device.SectorCount()), 0};
    // Signatures lie up to 64 KiB in; a short volume shows what it has.
    const uint64_t sectors =
        std::min<uint64_t>(device.SectorCount(), format::kSignatureBytes / kSectorSize);
    std::vector<uint8_t> head(sector0, sector0 + kSectorSize);
    if (sectors > 1) {
        head.resize(sectors * kSectorSize);
        if (!device.Read(1, static_cast<uint32_t>(sectors - 1), head.data() + kSectorSize))
            head.resize(kSectorSize);
    }
    const format::Signature found = format::IdentifyVolume(head.data(), head.size());
    return {"not a FAT volume: " + found.what, found.partition};
}

std::string ProblemText(const VolumeProblem& problem, const std::string& volume) {
    if (problem.partition == 0) return problem.text;
    // A partition that itself holds a partition table cannot be named.
    const size_t at = volume.rfind('@');
    if (at != std::string::npos && at + 2 == volume.size()) return problem.text;
    return problem.text + "; use " + volume + "@" + std::to_string(problem.partition);
}

}  // namespace kestra::platform
