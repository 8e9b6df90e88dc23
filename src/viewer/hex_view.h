#pragma once

// The sector viewer's model: sectors, panes and navigation.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "format/sector_size.h"
#include "run/run_context.h"

namespace kestra::viewer {

// Pixels of the panes at 15 twips to the pixel: 135-twip lines, the fixed
// face's 6-pixel cells, text printed 2 pixels in from the pane's edges.
inline constexpr int kLineHeight = 9;
inline constexpr int kCharWidth = 6;
inline constexpr int kTextX = 2;
inline constexpr int kTextY = 2;
inline constexpr int kMaxDepth = 20;  // the path arrays hold depths 0..20

// Top pixel row of line l's text. A line's marks take the row above it too, so
// the rows of line l run from LineY(l) - 1 to LineY(l + 1) - 2.
constexpr int LineY(int l) {
    return kTextY + l * kLineHeight;
}

// One overlay of Xor_Dir_Info: a frame round each of `count` bytes from `pos`
// in the hex pane, or a fill of their character cells in the text pane.
enum class Pane { Data, Text };
struct Mark {
    Pane pane = Pane::Data;
    int pos = 0;
    int count = 1;
    int colour = 0;  // palette number; 0 leaves the pixels as they are
    friend bool operator==(const Mark&, const Mark&) = default;
};

// One of the 32 lines of a sector: offset column, 47-character hex line with
// "|" at position 23, and 16 characters with "." for bytes outside 32..126.
struct HexLine {
    std::string Offset;
    std::string Data;
    std::string Text;
};

enum class Box { Dir, Block };  // txtDir, txtBlock
enum class Key { Enter, PageUp, PageDown, Home, End, Escape };

// The sector viewer NTKestHex without its widgets. The launch has opened the
// volume into ctx.io.VolumeHandle, set the geometry and read the FAT; the front
// ends show the fields below and forward keys and mouse presses here.
class HexView {
  public:
    explicit HexView(run::RunContext& ctx) : ctx_(ctx) {}

    void FormLoad();
    // Reads and shows SectorNo; false (and the viewer closed) when the read failed.
    bool HexDisplay();
    int64_t Fat_Block() const;
    // The volume's last sector: txtBlock reaches every sector from 0 to it.
    int64_t LastSector() const;
    bool In_Subdir(int64_t sector) const;
    void Dir_Root(uint32_t n);
    // A press at height y (pixels) of the text pane.
    void Dir_Nest(int y);
    void Dir_Back();

    // False when the character is dropped (with a beep): digits and Backspace only.
    bool KeyPress(Box box, char c);
    void KeyDown(Box box, Key key);
    // The window's own key: Esc climbs one folder, then closes the viewer.
    void Form_KeyDown(Key key);
    // Closes the volume the launch opened.
    void Form_Unload();

    std::vector<HexLine> Lines() const;
    // The overlay of every entry of SectorBuf (the sector must lie in the folder walked).
    std::vector<Mark> Xor_Dir_Info() const;
    // What the volume's short names are stored in.
    const format::CodePage& NameCodePage() const { return ctx_.geo.CodePage; }

    // Window state.
    std::string Caption;
    std::string lblDir;
    std::string txtDir;
    std::string txtBlock;
    bool Open = true;    // false once the viewer closed itself
    long Displays = 0;   // sectors shown so far: every redraw of the panes counts
    int TextColour = 0;  // palette number of all three panes' text
    std::vector<Mark> Marks;

    int64_t SectorNo = 0;
    std::array<uint8_t, format::kSectorSize> SectorBuf{};
    std::vector<int64_t> DirRunLen{0};  // runs 1..n of the folder walked
    std::vector<int64_t> DirRunStart{0};
    int64_t DirSector = 0;
    int64_t DirLastSector = 0;
    int64_t DirFirstSector = 0;
    int DirDepth = 0;
    std::array<uint32_t, kMaxDepth + 1> DirPathCluster{};
    std::array<std::string, kMaxDepth + 1> DirPathName{};
    int64_t RootSector = 0;

  private:
    // The folder whose first cluster is c as sector runs; false (nothing
    // changed, the reason in `why`) when its chain cannot be walked.
    bool CollectRuns(uint32_t c, std::string* why = nullptr);
    void FixedRoot();
    // lblDir, "0" in txtDir and Enter in it.
    void ShowFolder(const std::string& name);
    void Beep() { ctx_.ui.Beep(); }

    run::RunContext& ctx_;
};

// Walks from the root down a folder path ("docs/Long Name", "/" or "\\"
// between names, long or short, any case) as a user would: by pressing each
// folder's entry in the text pane. False, with the reason, when a name is not
// a folder of the one before it.
bool EnterPath(HexView& view, const std::string& path, std::string& why);

// The text colour of a sector: 4 for sector 0, 5 for sector 1, 1 for "FILE",
// 2 for "INDX", else 0.
int SectorColour(int64_t sector, const uint8_t* buf);

}  // namespace kestra::viewer
