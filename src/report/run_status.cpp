#include "report/run_status.h"

#include "report/status_lines.h"

namespace kestra::report {

void SetStatusX(ReportContext& ctx, int twipsPerPixel) {
    ctx.RunWindow.StatusX = (twipsPerPixel > 0 && twipsPerPixel < 15) ? 180 : 160;
}

void ShowStatus(ReportContext& ctx, int y, std::string_view Text, int colour) {
    RunWindowState& run = ctx.RunWindow;
    StatusLine& line = (y == display::kStatusLine1) ? run.Line1 : run.Line2;
    line.Text = std::string(Text);
    line.Colour = colour;

    display::Canvas& form = run.Surface;
    const int h = form.TextHeight(Text);
    const int keepX = form.CurrentX;
    const int keepY = form.CurrentY;
    const display::Rgb keepColour = form.ForeColor;
    const int textX = run.StatusX + 2;
    form.FillBox(run.StatusX, y, form.Width() - 1, y + h - 1, display::PaletteColor(7));
    if (colour == 14) {
        // Yellow reads on blue only.
        form.FillBox(textX, y, textX + form.TextWidth(Text) - 1, y + h - 1,
                     display::PaletteColor(9));
    }
    form.CurrentX = textX;
    form.CurrentY = y;
    form.ForeColor = display::PaletteColor(colour);
    form.Print(Text);
    form.ForeColor = keepColour;
    form.CurrentX = keepX;
    form.CurrentY = keepY;
}

void FAT_Active(ReportContext& ctx, std::string_view Name) {
    ShowStatus(ctx, display::kStatusLine1, Name, 15);
    LetEventsRun(ctx);
}

void ShowTag(ReportContext& ctx, int y, std::string_view text, int colour) {
    display::ShowTag(ctx.RunWindow.Surface, ctx.RunWindow.Tags, y, text, colour);
}

void RunWindowPaint(ReportContext& ctx) {
    display::PaintTags(ctx.RunWindow.Surface, ctx.RunWindow.Tags, ctx.Gate(),
                       ctx.RunWindow.RunDone);
}

void FlushDeferredPaint(ReportContext& ctx, display::ClusterMap& map,
                        display::HistogramChart& PicHistoE, display::HistogramChart& picHistoF,
                        const display::LegendMode& mode) {
    if (!ctx.Flags.PaintDeferred || ctx.Flags.DropLocksFlag) return;
    RunWindowPaint(ctx);
    display::PaintHistogram(PicHistoE, ctx.Gate());
    display::PaintHistogram(picHistoF, ctx.Gate());
    // The map area's own paint: the map, or the file distribution a tool left.
    map.picMap_Paint(mode);
    ctx.Flags.PaintDeferred = false;
}

}  // namespace kestra::report
