#include "viewer/hex_view.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <limits>

#include "analysis/folder_walk.h"
#include "fat/chains.h"
#include "format/dir_entry.h"
#include "format/utf8.h"
#include "report/status_lines.h"

namespace kestra::viewer {
namespace {

// A box's text as a number: blank is 0; digits beyond the range of a sector
// number saturate. False for anything else, which only pasting can bring.
bool BoxValue(const std::string& text, int64_t& value) {
    value = 0;
    for (const char ch : text) {
        if (!std::isdigit(static_cast<unsigned char>(ch))) return false;
        const int64_t digit = ch - '0';
        if (value > (std::numeric_limits<int64_t>::max() - digit) / 10) {
            value = std::numeric_limits<int64_t>::max();
        } else {
            value = value * 10 + digit;
        }
    }
    return true;
}

std::string Lower(const std::string& s) {
    return format::LowerText(s);
}

// Class colour of an entry from its attribute byte.
int ClassColour(const format::DirEntry& e) {
    if (e.Has(format::kAttrDirectory)) return 5;
    if (e.Has(format::kAttrVolumeLabel))
        return (e.Attributes() & format::kAttrLongName) == format::kAttrLongName ? 0 : 3;
    if (e.Attributes() & (format::kAttrReadOnly | format::kAttrHidden | format::kAttrSystem))
        return 2;
    return 1;
}

}  // namespace

int SectorColour(int64_t sector, const uint8_t* buf) {
    if (sector == 0) return 4;
    if (sector == 1) return 5;
    if (std::equal(buf, buf + 4, "FILE")) return 1;
    if (std::equal(buf, buf + 4, "INDX")) return 2;
    return 0;
}

void HexView::FormLoad() {
    ctx_.report.Main.ViewerErrorText.clear();
    Caption = "Hex " + ctx_.io.DriveLetter;
    SectorNo = 0;
    DirDepth = 0;
    DirPathCluster.fill(0);
    DirPathName.fill({});
    DirPathName[0] = "RootDir";
    if (ctx_.geo.IsFat32) {
        std::string why;
        if (!CollectRuns(ctx_.geo.RootCluster, &why)) {
            // The root's chain cannot be walked: the launch shows why.
            ctx_.report.Main.ViewerErrorText = "Root folder: " + why;
            report::LetEventsRun(ctx_.report);
            Open = false;
            return;
        }
        Dir_Root(ctx_.geo.RootCluster);
        return;
    }
    FixedRoot();
    ShowFolder("RootDir");
}

// The FAT12/16 root: one run after the FATs. Its last sector counts even when
// the entries do not fill it, and the reserved sectors are honoured.
void HexView::FixedRoot() {
    RootSector = disk::RootDirSector(ctx_.geo);
    DirRunLen.assign({0, int64_t{disk::RootDirSectors(ctx_.geo)}});
    DirRunStart.assign({0, RootSector});
    DirFirstSector = RootSector;
    DirLastSector = DirRunLen[1] - 1;
}

bool HexView::CollectRuns(uint32_t c, std::string* why) {
    if (c < 2 || c > ctx_.geo.ClusterCount + 1) {
        if (why) *why = "Invalid cluster";
        return false;
    }
    // A broken chain refuses the folder; it must not end the viewer's session.
    const report::RunFlags saved = ctx_.flags;
    fat::Extents ext;
    const uint32_t total = fat::GetExtents(ctx_.run, c, ext);
    const bool walked = !ctx_.flags.RunError && total > 0;
    if (why) *why = ctx_.flags.ErrText;
    ctx_.flags = saved;
    if (!walked) return false;
    const int64_t spc = ctx_.geo.SectorsPerCluster;
    DirRunLen.assign(1, 0);
    DirRunStart.assign(1, 0);
    for (uint32_t i = 1; i <= ext.Count(); ++i) {
        DirRunLen.push_back(int64_t{ext.Lens[i]} * spc);
        DirRunStart.push_back(disk::ClusterToSector(ctx_.geo, ext.Starts[i]));
    }
    DirFirstSector = DirRunStart[1];
    DirLastSector = int64_t{total} * spc - 1;
    return true;
}

void HexView::ShowFolder(const std::string& name) {
    lblDir = name;
    txtDir = "0";
    KeyDown(Box::Dir, Key::Enter);
}

void HexView::Dir_Root(uint32_t n) {
    if (!CollectRuns(n)) {
        Beep();
        return;
    }
    DirDepth = 0;
    DirPathCluster[0] = n;
    DirPathName[0] = "Root Dir";
    ShowFolder(DirPathName[0]);
}

void HexView::Dir_Nest(int y) {
    const int line = (y - LineY(0) + 1) / kLineHeight;
    if (y < 0 || line >= 32) return;  // below the 32nd line: no entry
    const int e = (line / 2) * 32;
    const uint8_t* entry = SectorBuf.data() + e;
    if (!format::DirEntry(entry).IsFolder()) return;
    const uint32_t c = format::DirEntry(entry).StartCluster(ctx_.geo.IsFat32);
    const std::string full = Lower(format::ShortNameText(entry, ctx_.geo.CodePage));
    if (full == "..") {
        // Only a folder entered from the root knows where ".." leads.
        if (DirDepth == 0) {
            Beep();
        } else {
            Dir_Back();
        }
        return;
    }
    if (full == "." || DirDepth >= kMaxDepth || !CollectRuns(c)) {
        Beep();
        return;
    }
    ++DirDepth;
    DirPathCluster[DirDepth] = c;
    DirPathName[DirDepth] = full;
    ShowFolder(full);
}

void HexView::Dir_Back() {
    if (DirDepth == 0) return;
    --DirDepth;
    const uint32_t c = DirPathCluster[DirDepth];
    if (c == 0) {
        FixedRoot();
    } else if (!CollectRuns(c)) {
        // The chain was walked on the way down; only a changed FAT breaks it.
        Beep();
    }
    ShowFolder(DirPathName[DirDepth]);
}

int64_t HexView::Fat_Block() const {
    int64_t r = DirSector;
    for (size_t i = 1; i < DirRunLen.size(); ++i) {
        if (r < DirRunLen[i]) return DirRunStart[i] + r;
        r -= DirRunLen[i];
    }
    return 0;
}

bool HexView::In_Subdir(int64_t sector) const {
    for (size_t i = 1; i < DirRunLen.size(); ++i) {
        if (DirRunStart[i] <= sector && sector < DirRunStart[i] + DirRunLen[i]) return true;
    }
    return false;
}

bool HexView::HexDisplay() {
    txtBlock = std::to_string(SectorNo);
    ctx_.io.SetNextSector(SectorNo);
    if (!ctx_.io.ReadSectors(SectorBuf.data(), SectorBuf.size())) {
        Open = false;  // the read has left the disk error for the launch
        return false;
    }
    ++Displays;
    TextColour = SectorColour(SectorNo, SectorBuf.data());
    Marks.clear();
    if (ctx_.geo.FileSystemName.rfind("FAT", 0) == 0 && In_Subdir(SectorNo)) Marks = Xor_Dir_Info();
    return true;
}

std::vector<HexLine> HexView::Lines() const {
    std::vector<HexLine> lines(32);
    for (int l = 0; l < 32; ++l) {
        char offset[8];
        std::snprintf(offset, sizeof offset, "%03X", 16 * l);
        lines[l].Offset = offset;
        std::string& data = lines[l].Data;
        data.assign(47, ' ');
        for (int k = 0; k < 16; ++k) {
            const uint8_t b = SectorBuf[16 * l + k];
            static constexpr char kHex[] = "0123456789ABCDEF";
            data[3 * k] = kHex[b >> 4];
            data[3 * k + 1] = kHex[b & 15];
            lines[l].Text += (b >= 32 && b <= 126) ? static_cast<char>(b) : '.';
        }
        data[23] = '|';
    }
    return lines;
}

std::vector<Mark> HexView::Xor_Dir_Info() const {
    std::vector<Mark> marks;
    for (int e = 0; e < static_cast<int>(format::kSectorSize); e += format::kDirEntrySize) {
        const uint8_t first = SectorBuf[e];
        if (first == format::kEndMark) continue;
        if (first == format::kErasedMark) marks.push_back({Pane::Data, e, 1, 2});
        const int k = ClassColour(format::DirEntry(&SectorBuf[e]));
        if (k == 0) marks.push_back({Pane::Data, e + format::kAttrAt, 1, 2});
        marks.push_back({Pane::Data, e + format::kAttrAt, 1, k});
        if (first != format::kErasedMark && k != 0) {
            marks.push_back({Pane::Text, e, 8, k});
            if (SectorBuf[e + 8] != ' ') marks.push_back({Pane::Text, e + 8, 3, k});
        }
        marks.push_back({Pane::Data, e + format::kStartLowAt, 2, 5});
        if (ctx_.geo.IsFat32) marks.push_back({Pane::Data, e + format::kStartHighAt, 2, 5});
    }
    return marks;
}

int64_t HexView::LastSector() const {
    // Sector numbers count from the volume's start: the boot sector, the FATs
    // and the root come before the data area, so its size alone falls short.
    return int64_t{ctx_.geo.Boot.totalSectors} - 1;
}

bool HexView::KeyPress(Box, char c) {
    if (std::isdigit(static_cast<unsigned char>(c)) || c == '\b') return true;
    Beep();
    return false;
}

void HexView::KeyDown(Box box, Key key) {
    if (key == Key::Escape) return Form_KeyDown(key);
    int64_t& index = box == Box::Dir ? DirSector : SectorNo;
    std::string& text = box == Box::Dir ? txtDir : txtBlock;
    const int64_t last = box == Box::Dir ? DirLastSector : LastSector();
    const int64_t before = index;
    switch (key) {
        case Key::Enter: {
            if (text.empty()) text = "0";
            int64_t n = 0;
            if (!BoxValue(text, n)) {
                // Pasted text that is no number: the box goes back to what is shown.
                Beep();
                text = std::to_string(index);
                return;
            }
            if (n < last) {
                index = n;
            } else {
                index = std::max<int64_t>(last, 0);
                text = std::to_string(index);
            }
            if (box == Box::Dir) SectorNo = Fat_Block();
            HexDisplay();
            return;
        }
        case Key::PageUp:
            index = std::max<int64_t>(index - 1, 0);
            break;
        case Key::PageDown:
            index = std::min(index + 1, std::max<int64_t>(last, 0));
            break;
        case Key::Home:
            index = 0;
            break;
        case Key::End:
            index = std::max<int64_t>(last, 0);
            break;
        default:
            return;
    }
    if (index == before) return;
    if (box == Box::Dir) {
        text = std::to_string(index);
        SectorNo = Fat_Block();
    }
    HexDisplay();
}

void HexView::Form_KeyDown(Key key) {
    if (key != Key::Escape) return;
    if (DirDepth > 0) {
        Dir_Back();
    } else {
        Open = false;
    }
}

void HexView::Form_Unload() {
    disk::VolumeIo::CloseVolumeHandle(ctx_.io.VolumeHandle);
}

namespace {

// Presses the entry of folder `want` (lower case) in the folder shown, reading
// it sector by sector as a user would page through it.
bool EnterFolder(HexView& view, const std::string& want, const std::string& shown,
                 std::string& why) {
    analysis::EntryWalk walk;
    bool found = false;
    bool refused = false;
    const auto press = [&](const analysis::FolderSlot& slot) {
        if (slot.kind == analysis::Slot::End) return false;
        if (slot.kind != analysis::Slot::Entry || !format::DirEntry(slot.bytes).IsFolder())
            return true;
        if (want != Lower(format::ShortNameText(slot.bytes, view.NameCodePage())) &&
            want != Lower(slot.longName))
            return true;
        const int depth = view.DirDepth;
        const int e = static_cast<int>(slot.entryNo % format::kEntriesPerSector) *
                      static_cast<int>(format::kDirEntrySize);
        view.Dir_Nest(LineY(e / 16));
        refused = view.DirDepth == depth && want != "..";
        found = true;
        return false;
    };
    for (int64_t s = 0; s <= view.DirLastSector && !found && !walk.Ended(); ++s) {
        view.txtDir = std::to_string(s);
        view.KeyDown(Box::Dir, Key::Enter);
        if (!view.Open) return false;
        walk.Feed(view.SectorBuf.data(), view.SectorBuf.size(), press);
    }
    if (refused) why = shown + ": the folder cannot be entered";
    if (!found) why = shown + ": no such folder";
    return found && !refused;
}

}  // namespace

bool EnterPath(HexView& view, const std::string& path, std::string& why) {
    for (const analysis::PathName& part : analysis::SplitPath(path)) {
        if (!view.Open) break;
        if (!EnterFolder(view, Lower(part.name), path.substr(0, part.end), why) && view.Open)
            return false;
    }
    if (!view.Open) why = "the sector could not be read";
    return view.Open;
}

}  // namespace kestra::viewer
