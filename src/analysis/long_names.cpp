#include "analysis/long_names.h"

#include "fat/volume_model.h"

namespace kestra::analysis {
namespace {

constexpr int kCharOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};

void AppendUtf8(std::string& out, char16_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace

uint8_t ShortNameChecksum(const uint8_t* e) {
    uint8_t sum = 0;
    for (int i = 0; i < 11; ++i)
        sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + e[i]);
    return sum;
}

Slot FeedSlot(LongNameCollector& longNames, const uint8_t* e) {
    if (e[0] == 0x00) return Slot::End;
    if (e[0] == fat::kErasedMark) {
        longNames.Reset();
        return Slot::Erased;
    }
    if ((e[11] & 0x08) == 0) return Slot::Entry;
    if ((e[11] & 0x3F) == 0x0F) {
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
        const uint8_t* p = slot + kCharOffsets[i];
        chars_[(ord - 1) * 13 + i] = static_cast<char16_t>(p[0] | (p[1] << 8));
    }
    --expected_;
}

std::string LongNameCollector::Take(const uint8_t* shortEntry) {
    std::string name;
    if (expected_ == 0 && total_ > 0 && checksum_ == ShortNameChecksum(shortEntry)) {
        for (int i = 0; i < total_ * 13 && chars_[i] != 0; ++i)
            AppendUtf8(name, chars_[i]);
    }
    expected_ = 0;
    total_ = 0;
    return name;
}

}  // namespace kestra::analysis
