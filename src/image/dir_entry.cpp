#include "image/dir_entry.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "format/little_endian.h"

namespace kestra::image {

namespace {

bool IsShortChar(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return true;
    if (c >= '0' && c <= '9') return true;
    if (c >= 0x80) return true;
    return std::strchr("!#$%&'()-@^_`{}~", c) != nullptr && c != 0;
}

unsigned char Upper(unsigned char c) {
    return (c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c;
}

// Splits at the last dot that is not the first character.
void SplitName(std::string_view name, std::string_view& base, std::string_view& ext) {
    const size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) {
        base = name;
        ext = {};
    } else {
        base = name.substr(0, dot);
        ext = name.substr(dot + 1);
    }
}

// A fixed, valid timestamp keeps images reproducible: 2020-06-15 12:30:00.
constexpr uint16_t kDate = ((2020 - 1980) << 9) | (6 << 5) | 15;
constexpr uint16_t kTime = (12 << 11) | (30 << 5);

}  // namespace

bool IsPlainShortName(std::string_view name) {
    if (name == "." || name == "..") return false;
    std::string_view base, ext;
    SplitName(name, base, ext);
    if (base.empty() || base.size() > 8 || ext.size() > 3) return false;
    if (name.back() == '.') return false;
    for (unsigned char c : base)
        if (!IsShortChar(c)) return false;
    for (unsigned char c : ext)
        if (!IsShortChar(c)) return false;
    return true;
}

ShortName PackShortName(std::string_view dotted) {
    if (!IsPlainShortName(dotted))
        throw std::invalid_argument("not an 8.3 name: " + std::string(dotted));
    ShortName out;
    out.fill(' ');
    std::string_view base, ext;
    SplitName(dotted, base, ext);
    std::memcpy(out.data(), base.data(), base.size());
    std::memcpy(out.data() + 8, ext.data(), ext.size());
    // A real first byte of 0xE5 is stored as 0x05 so it does not read as erased.
    if (out[0] == format::kErasedMark) out[0] = format::kE5Stand;
    return out;
}

std::string UnpackShortName(const ShortName& name) {
    std::string base(name.begin(), name.begin() + 8);
    std::string ext(name.begin() + 8, name.end());
    if (!base.empty() && static_cast<uint8_t>(base[0]) == format::kE5Stand)
        base[0] = static_cast<char>(format::kErasedMark);
    while (!base.empty() && base.back() == ' ')
        base.pop_back();
    while (!ext.empty() && ext.back() == ' ')
        ext.pop_back();
    return ext.empty() ? base : base + "." + ext;
}

ShortName PackLabel(std::string_view label) {
    if (label.size() > 11) throw std::invalid_argument("label longer than 11 characters");
    ShortName out;
    out.fill(' ');
    for (size_t i = 0; i < label.size(); ++i)
        out[i] = Upper(label[i]);
    return out;
}

ShortName MakeAlias(std::string_view longName, const std::function<bool(const ShortName&)>& taken) {
    std::string upper(longName);
    for (auto& c : upper)
        c = static_cast<char>(Upper(c));
    if (IsPlainShortName(upper)) {
        const ShortName direct = PackShortName(upper);
        if (!taken(direct)) return direct;
    }
    std::string_view base, ext;
    SplitName(longName, base, ext);
    auto clean = [](std::string_view part, size_t limit) {
        std::string out;
        for (unsigned char c : part) {
            if (c == ' ' || c == '.') continue;
            if (out.size() == limit) break;
            // Multi-byte characters become one '_' per byte; good enough for an alias.
            const unsigned char u = Upper(c);
            out.push_back(IsShortChar(u) && u < 0x80 ? static_cast<char>(u) : '_');
        }
        return out;
    };
    std::string b = clean(base, 8);
    const std::string e = clean(ext, 3);
    if (b.empty()) b = "_";
    for (uint32_t n = 1; n < 1000000; ++n) {
        const std::string tail = "~" + std::to_string(n);
        const std::string stem = b.substr(0, std::min(b.size(), 8 - tail.size())) + tail;
        const ShortName candidate = PackShortName(e.empty() ? stem : stem + "." + e);
        if (!taken(candidate)) return candidate;
    }
    throw std::runtime_error("no free alias for " + std::string(longName));
}

uint8_t ShortNameChecksum(const ShortName& name) {
    uint8_t sum = 0;
    for (uint8_t c : name)
        sum = static_cast<uint8_t>(((sum & 1) ? 0x80 : 0) + (sum >> 1) + c);
    return sum;
}

std::u16string Utf8ToUtf16(std::string_view text) {
    std::u16string out;
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = text[i];
        uint32_t cp = 0;
        size_t extra = 0;
        if (c < 0x80) {
            cp = c;
        } else if ((c & 0xE0) == 0xC0) {
            cp = c & 0x1F;
            extra = 1;
        } else if ((c & 0xF0) == 0xE0) {
            cp = c & 0x0F;
            extra = 2;
        } else {
            throw std::invalid_argument("only BMP characters are supported in names");
        }
        if (i + extra >= text.size() && extra)
            throw std::invalid_argument("truncated UTF-8 in a name");
        for (size_t k = 1; k <= extra; ++k) {
            const unsigned char cc = text[i + k];
            if ((cc & 0xC0) != 0x80) throw std::invalid_argument("malformed UTF-8 in a name");
            cp = (cp << 6) | (cc & 0x3F);
        }
        out.push_back(static_cast<char16_t>(cp));
        i += extra + 1;
    }
    return out;
}

std::vector<RawEntry> LongNameSlots(std::string_view name, uint8_t checksum) {
    const std::u16string units = Utf8ToUtf16(name);
    if (units.empty() || units.size() > 255)
        throw std::invalid_argument("long name must have 1..255 characters");
    const size_t count = (units.size() + 12) / 13;
    std::vector<RawEntry> slots;
    for (size_t k = count; k-- > 0;) {
        RawEntry e{};
        e[0] = static_cast<uint8_t>((k + 1) | (k + 1 == count ? 0x40 : 0));
        e[11] = format::kAttrLongName;
        e[13] = checksum;
        for (size_t j = 0; j < 13; ++j) {
            const size_t at = k * 13 + j;
            // One terminator after the name, then 0xFFFF padding.
            const uint16_t u = at < units.size() ? units[at] : at == units.size() ? 0 : 0xFFFF;
            format::PutLe16(&e[format::kLongNameCharAt[j]], u);
        }
        slots.push_back(e);
    }
    return slots;
}

RawEntry ShortEntry(const ShortName& name, uint8_t attributes, uint32_t cluster, uint32_t size) {
    RawEntry e{};
    format::DirEntryWriter w(e.data());
    w.SetName(name.data());
    w.SetAttributes(attributes);
    w.SetCreateTime(kTime);
    w.SetCreateDate(kDate);
    w.SetAccessDate(kDate);
    // Both words: the high one is 0 on FAT12/16, where no cluster reaches it.
    w.SetStartCluster(cluster, true);
    w.SetWriteTime(kTime);
    w.SetWriteDate(kDate);
    w.SetSize(size);
    return e;
}

}  // namespace kestra::image
