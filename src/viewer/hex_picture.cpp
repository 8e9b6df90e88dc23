#include "viewer/hex_picture.h"

#include <array>

#include "display/ansi_map.h"
#include "format/sector_size.h"

namespace kestra::viewer {
namespace {

using display::Canvas;

void PrintLine(Canvas& pane, int l, const std::string& text) {
    pane.CurrentX = kTextX;
    pane.CurrentY = LineY(l);
    pane.Print(text);
}

void SetUpPane(Canvas& pane, const Place& place, int colour) {
    pane.BackColor = display::kWhite;
    pane.Resize(place.width, place.height);
    pane.Clear();
    pane.Font = display::FontFace::Fixed;
    pane.ForeColor = display::PaletteColor(colour);
}

// A sunken box or a label as the window draws them, for the picture.
void DrawControl(Canvas& c, const Place& p, const std::string& text, bool box) {
    if (box) {
        c.FillBox(p.left, p.top, p.left + p.width - 1, p.top + p.height - 1, display::kWhite);
        c.Box(p.left, p.top, p.left + p.width - 1, p.top + p.height - 1, display::PaletteColor(8));
    }
    c.ForeColor = display::kBlack;
    c.CurrentX = p.left + (box ? 4 : 0);
    c.CurrentY = p.top + (p.height - display::kFontHeight) / 2;
    c.Print(text);
}

// The colour each byte ends up with when marks of one pane are laid over each
// other with the exclusive-or pen: the same colour twice cancels.
std::array<int, format::kSectorSize> Overlay(const std::vector<Mark>& marks, Pane pane) {
    std::array<int, format::kSectorSize> colour{};
    for (const Mark& m : marks) {
        if (m.pane != pane || m.colour == 0) continue;
        for (int p = m.pos; p < m.pos + m.count && p < static_cast<int>(format::kSectorSize); ++p)
            colour[p] = colour[p] == m.colour ? 0 : m.colour;
    }
    return colour;
}

std::string Sgr(int paletteNumber, bool background) {
    const int index = display::AnsiColourIndex(paletteNumber);
    const int base = background ? 40 : 30;
    return "\x1b[" + std::to_string(index < 8 ? base + index : base + 60 + index - 8) + "m";
}

}  // namespace

std::vector<PixelRect> MarkRects(const Mark& mark) {
    std::vector<PixelRect> rects;
    const int first = mark.pos;
    const int last = mark.pos + mark.count - 1;
    if (mark.count <= 0) return rects;
    if (mark.pane == Pane::Data) {
        for (int p = first; p <= last; ++p) {
            const int x = kTextX + (p % 16) * 3 * kCharWidth;
            const int y = LineY(p / 16);
            rects.push_back({x - 1, y - 1, x + 2 * kCharWidth - 1, y + kLineHeight - 2});
        }
        return rects;
    }
    auto cells = [&](int p, int n) {
        const int x = kTextX + (p % 16) * kCharWidth;
        const int y = LineY(p / 16);
        rects.push_back({x - 1, y - 1, x + n * kCharWidth - 2, y + kLineHeight - 2});
    };
    if (first / 16 == last / 16) {
        cells(first, mark.count);
    } else {
        for (int p = first; p <= last; ++p)
            cells(p, 1);
    }
    return rects;
}

void PrintPanes(const HexView& view, Canvas& offset, Canvas& data, Canvas& text) {
    SetUpPane(offset, kPicOffset, view.TextColour);
    SetUpPane(data, kPicData, view.TextColour);
    SetUpPane(text, kPicText, view.TextColour);
    const std::vector<HexLine> lines = view.Lines();
    for (int l = 0; l < 32; ++l) {
        PrintLine(offset, l, lines[l].Offset);
        PrintLine(data, l, lines[l].Data);
        PrintLine(text, l, lines[l].Text);
    }
}

void XorMarks(const std::vector<Mark>& marks, Canvas& data, Canvas& text) {
    for (const Mark& m : marks) {
        Canvas& pane = m.pane == Pane::Data ? data : text;
        const display::DrawMode kept = pane.PenMode;
        pane.PenMode = display::DrawMode::XorPen;
        const display::Rgb colour = display::PaletteColor(m.colour);
        for (const PixelRect& r : MarkRects(m)) {
            if (m.pane == Pane::Data) {
                pane.Box(r.left, r.top, r.right, r.bottom, colour);
            } else {
                pane.FillBox(r.left, r.top, r.right, r.bottom, colour);
            }
        }
        pane.PenMode = kept;
    }
}

Canvas HexPicture(const HexView& view) {
    Canvas picture(kWindowWidth, kWindowHeight, display::PaletteColor(7));
    DrawControl(picture, kLblDir, view.lblDir, false);
    DrawControl(picture, kTxtDir, view.txtDir, true);
    DrawControl(picture, kLblSector, "  Sector", false);
    DrawControl(picture, kTxtBlock, view.txtBlock, true);
    Canvas offset, data, text;
    PrintPanes(view, offset, data, text);
    XorMarks(view.Marks, data, text);
    for (const auto& [pane, place] : {std::pair<const Canvas*, Place>{&offset, kPicOffset},
                                      {&data, kPicData},
                                      {&text, kPicText}}) {
        Canvas::BlockCopy(picture, place.left, place.top, place.width, place.height, *pane, 0, 0);
    }
    return picture;
}

std::string HexText(const HexView& view, bool colour) {
    const std::array<int, format::kSectorSize> frames = Overlay(view.Marks, Pane::Data);
    const std::array<int, format::kSectorSize> fills = Overlay(view.Marks, Pane::Text);
    // Black text keeps the terminal's own foreground, so it shows on any background.
    const std::string ink = view.TextColour == 0 ? "\x1b[39m" : Sgr(view.TextColour, false);
    const std::string reset = "\x1b[0m";
    std::string out;
    const std::vector<HexLine> lines = view.Lines();
    for (int l = 0; l < 32; ++l) {
        const HexLine& line = lines[l];
        if (!colour) {
            out += line.Offset + "  " + line.Data + "  " + line.Text + "\n";
            continue;
        }
        out += ink + line.Offset + "  ";
        for (int k = 0; k < 16; ++k) {
            const int frame = frames[16 * l + k];
            out += frame != 0 ? Sgr(frame, false) + line.Data.substr(3 * k, 2) + ink
                              : line.Data.substr(3 * k, 2);
            if (k < 15) out += line.Data[3 * k + 2];
        }
        out += "  ";
        int background = 0;
        for (int k = 0; k < 16; ++k) {
            const int fill = fills[16 * l + k];
            if (fill != background) out += fill != 0 ? Sgr(fill, true) : "\x1b[49m";
            background = fill;
            out += line.Text[k];
        }
        out += reset + "\n";
    }
    return out;
}

}  // namespace kestra::viewer
