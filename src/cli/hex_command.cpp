#include <algorithm>
#include <cctype>
#include <iostream>

#include "app/launch.h"
#include "cli/cli_host.h"
#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/volume_args.h"
#include "display/png_output.h"
#include "platform/terminal.h"
#include "viewer/hex_picture.h"

namespace kestra::cli {
namespace {

struct HexOptions {
    std::string sector;  // --sector N: an absolute sector
    std::string dir;     // --dir PATH: a folder walked from the root
    bool hasDir = false;
    std::string index;  // --index K: sector K of that folder
    long count = 1;
    std::string png;
};

bool Digits(const std::string& s) {
    if (s.empty()) return false;
    for (const char c : s) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    }
    return true;
}

bool TakeHexOptions(const ParsedArgs& parsed, HexOptions& o, std::string& error) {
    for (const auto& [name, v] : parsed.options) {
        if (name == "dir") {
            o.dir = v;
            o.hasDir = true;
        } else if (name == "png") {
            o.png = v;
        } else if (name != "sector" && name != "index" && name != "count") {
            continue;  // a volume option
        } else if (!Digits(v)) {
            error = "--" + name + " expects a number, not '" + v + "'";
            return false;
        } else if (name == "count") {
            o.count = v.size() > 6 ? 999999 : std::stol(v);
        } else {
            (name == "sector" ? o.sector : o.index) = v;
        }
    }
    if (!o.sector.empty() && (o.hasDir || !o.index.empty())) {
        error = "--sector cannot go with --dir or --index";
        return false;
    }
    if (o.count < 1) {
        error = "--count must be at least 1";
        return false;
    }
    return true;
}

// Where the sector shown lies, above its lines.
std::string Heading(const viewer::HexView& view) {
    std::string text = "Sector " + view.txtBlock;
    if (view.In_Subdir(view.SectorNo) && view.Fat_Block() == view.SectorNo)
        text += "  " + view.lblDir + " " + view.txtDir + "/" + std::to_string(view.DirLastSector);
    return text;
}

// The sectors asked for, printed and pictured one after another.
void Show(viewer::HexView& view, const HexOptions& o, bool colour, display::Canvas& picture,
          std::string& why) {
    view.FormLoad();
    if (!view.Open) return;
    viewer::Box box = viewer::Box::Dir;
    if (o.hasDir && !viewer::EnterPath(view, o.dir, why)) return;
    if (!o.sector.empty()) {
        // The window clamps a number past the end; asked for by name, it is an error.
        const std::string last = std::to_string(view.LastSector());
        const std::string n =
            o.sector.substr(std::min(o.sector.find_first_not_of('0'), o.sector.size() - 1));
        if (n.size() > last.size() || (n.size() == last.size() && n > last)) {
            why = "--sector " + n + " is past the volume's last sector " + last;
            return;
        }
        box = viewer::Box::Block;
        view.txtBlock = o.sector;
        view.KeyDown(box, viewer::Key::Enter);
    } else if (!o.index.empty()) {
        view.txtDir = o.index;
        view.KeyDown(box, viewer::Key::Enter);
    } else {
        view.KeyDown(box, viewer::Key::Home);
    }
    for (long i = 0; i < o.count && view.Open; ++i) {
        if (i > 0) {
            const long shown = view.Displays;
            view.KeyDown(box, viewer::Key::PageDown);
            if (view.Displays == shown) break;  // the last sector was shown
            if (!view.Open) break;
            std::cout << "\n";
        }
        std::cout << Heading(view) << "\n" << viewer::HexText(view, colour);
        if (o.png.empty()) continue;
        const display::Canvas one = viewer::HexPicture(view);
        display::Canvas grown(one.Width(), picture.Height() + one.Height());
        display::Canvas::BlockCopy(grown, 0, 0, picture.Width(), picture.Height(), picture, 0, 0);
        display::Canvas::BlockCopy(grown, 0, picture.Height(), one.Width(), one.Height(), one, 0,
                                   0);
        picture = std::move(grown);
    }
    std::cout.flush();
}

}  // namespace

int HexCommand(std::vector<std::string> args) {
    const ParsedArgs parsed = ParseOptions(args, WithVolumeOptions({{"sector", Arity::Value},
                                                                    {"dir", Arity::Value},
                                                                    {"index", Arity::Value},
                                                                    {"count", Arity::Value},
                                                                    {"png", Arity::Value}}));
    HexOptions options;
    std::string error = parsed.error;
    if (error.empty()) TakeHexOptions(parsed, options, error);
    VolumeArgs volume = error.empty() ? ResolveVolume(parsed) : VolumeArgs{};
    if (!error.empty()) volume.error = error;
    if (!volume.error.empty()) {
        std::cerr << "kestra-cli hex: " << volume.error << "\n";
        return kExitUsage;
    }
    const bool colour = platform::AnsiTerminal(1);
    CliHost host(colour, false);
    platform::SystemClock clock;
    run::RunContext ctx(volume.catalogue, host, clock);
    host.Attach(&ctx);

    display::Canvas picture(0, 0);
    std::string why;
    const std::string refused =
        app::HexLaunch(ctx, app::DriveListEntry(volume.catalogue, volume.letter),
                       [&](viewer::HexView& view) { Show(view, options, colour, picture, why); });
    if (!refused.empty()) why = refused;
    if (why.empty() && !ctx.report.Main.ViewerErrorText.empty())
        why = ctx.report.Main.ViewerErrorText;
    // A box names the error; without one the viewer ran to its end.
    int status =
        ctx.report.Main.LastBox == report::ErrorBox::None ? kExitClean : app::ExitStatusFor(ctx);
    if (!why.empty()) {
        std::cerr << "kestra-cli hex: " << why << "\n";
        if (status == kExitClean) status = refused.empty() ? kExitUsage : kExitDisk;
    }
    if (!options.png.empty() && picture.Height() > 0) {
        std::string failed;
        if (!display::SavePng(picture, options.png, &failed)) {
            std::cerr << "kestra-cli hex: " << failed << "\n";
            if (status == kExitClean) status = kExitDisk;
        }
    }
    return status;
}

}  // namespace kestra::cli
