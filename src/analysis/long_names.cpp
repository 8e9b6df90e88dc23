#include "analysis/long_names.h"

#include "format/dir_entry.h"
#include "format/little_endian.h"
#include "format/utf8.h"

namespace kestra::analysis {
uint8_t ShortNameChecksum(const uint8_t* e) {
    uint8_t sum = 0;
    for (int i = 0; i < 11; ++i)
        sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + e[i]);
    return sum;
}

Slot FeedSlot(LongNameCollector& longNames, const uint8_t* e) {
    const format::DirEntry entry(e);
    if (entry.First() == format::kEndMark) return Slot::End;
    if (entry.First() == format::kErasedMark) {
        longNames.Reset();
        return Slot::Erased;
    }
    if (!entry.Has(format::kAttrVolumeLabel)) return Slot::Entry;
    if (entry.IsLongName()) {
        longNames.Add(e);
        return Slot::LongName;
    }
    longNames.Reset();
    return Slot::Label;
}

void LongNameCollector::Add(const uint8_t* slot) {
    const int ord = slot[0] & 0x1F;
    if (slot[0] & 0x40) {
        if (ord < 1 || ord > 20) {
            expected_ = -1;
            return;
        }
        total_ = ord;
        expected_ = ord;
        checksum_ = slot[13];
    } else if (expected_ <= 0 || ord != expected_ || slot[13] != checksum_) {
        expected_ = -1;
        return;
    }
    for (int i = 0; i < 13; ++i) {
        const uint8_t* p = slot + format::kLongNameCharAt[i];
        chars_[(ord - 1) * 13 + i] = static_cast<char16_t>(format::Le16(p));
    }
    --expected_;
}

std::string LongNameCollector::Take(const uint8_t* shortEntry) {
    std::string name;
    if (expected_ == 0 && total_ > 0 && checksum_ == ShortNameChecksum(shortEntry)) {
        int length = 0;
        while (length < total_ * 13 && chars_[length] != 0)
            ++length;
        name = format::Utf16ToUtf8(chars_, static_cast<size_t>(length));
    }
    expected_ = 0;
    total_ = 0;
    return name;
}

}  // namespace kestra::analysis
