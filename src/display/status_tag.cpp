#include "display/status_tag.h"

#include "display/contrast.h"

namespace kestra::display {

int TagBackground(int colour) {
    // Light grey under dark text, navy under light text (white tags on the
    // grey window could not be read).
    const Rgb text = PaletteColor(colour);
    return ContrastRatio(text, PaletteColor(7)) >= ContrastRatio(text, PaletteColor(1)) ? 7 : 1;
}

void ShowTag(Canvas& form, StatusTags& tags, int y, std::string_view text, int colour) {
    if (y == kStatusLine1) {
        tags.TagText1 = std::string(text);
        tags.TagColor1 = colour;
    } else {
        tags.TagText2 = std::string(text);
        tags.TagColor2 = colour;
    }
    const int h = form.TextHeight("x");
    const int keepX = form.CurrentX;
    const int keepY = form.CurrentY;
    form.FillBox(4, y, 4 + 60, y + h, PaletteColor(TagBackground(colour)));
    form.CurrentX = 4;
    form.CurrentY = y;
    const Rgb keepColour = form.ForeColor;
    form.ForeColor = PaletteColor(colour);
    form.Print(text);
    form.ForeColor = keepColour;
    form.CurrentX = keepX;
    form.CurrentY = keepY;
}

void PaintTags(Canvas& form, StatusTags& tags, PaintGate gate, bool RunDone) {
    if (gate.Defer()) return;
    if (RunDone) return;
    // Copies: ShowTag writes the memory it is given.
    const std::string text1 = tags.TagText1;
    const std::string text2 = tags.TagText2;
    ShowTag(form, tags, kStatusLine1, text1, tags.TagColor1);
    ShowTag(form, tags, kStatusLine2, text2, tags.TagColor2);
}

}  // namespace kestra::display
