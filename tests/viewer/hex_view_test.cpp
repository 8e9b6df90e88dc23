#include "viewer/hex_view.h"

#include <gtest/gtest.h>

#include "app/launch.h"
#include "platform/fake_device.h"
#include "report/error_boxes.h"
#include "support/image.h"
#include "viewer/hex_picture.h"

namespace kestra::viewer {
namespace {

using image::EntryOptions;
using image::ImageBuilder;
using image::ImageOptions;
using image::SeededBytes;

// The viewer launched on drive C:, a fake device over a builder-made image;
// `body` runs while the viewer is open, as a user at the window would.
struct Viewer {
    explicit Viewer(const image::FatImage& img)
        : image(img), memory(std::shared_ptr<platform::MemoryDevice>(img.ToDevice())) {
        catalogue.MapDevice('C', [this](const platform::OpenOptions&) {
            platform::OpenResult r;
            r.device = std::make_unique<platform::FakeDevice>(memory, script);
            return r;
        });
    }
    std::string Launch(const std::function<void(HexView&)>& body) {
        return app::HexLaunch(ctx, "c:", [&](HexView& v) {
            v.FormLoad();
            body(v);
        });
    }
    // The sector and offset of a node's 8.3 entry.
    std::pair<int64_t, int> Entry(const std::string& path) const {
        const uint64_t at = image.Node(image.Find(path)).entryOffset;
        return {static_cast<int64_t>(at / 512), static_cast<int>(at % 512)};
    }

    image::FatImage image;
    std::shared_ptr<platform::MemoryDevice> memory;
    platform::FakeScript script;
    platform::VolumeCatalogue catalogue;
    platform::QuietUiHost ui;
    platform::ManualClock clock;
    run::RunContext ctx{catalogue, ui, clock};
};

void Type(HexView& v, Box box, const std::string& text) {
    (box == Box::Dir ? v.txtDir : v.txtBlock) = text;
    v.KeyDown(box, Key::Enter);
}

int LineOf(HexView& v, const std::string& name83) {
    for (int e = 0; e < 512; e += 32) {
        if (std::string(reinterpret_cast<const char*>(&v.SectorBuf[e]), 11) == name83)
            return e / 16;
    }
    return -1;
}

// Every kind of entry, in the root and in a folder of two clusters.
image::FatImage Entries(ImageOptions options) {
    options.label = "KESTRAVOL";
    ImageBuilder b(options);
    const auto sub = b.AddFolder(b.Root(), "SUB", {{60, 1}, {70, 1}});
    b.AddFolder(sub, "INNER");
    b.AddFile(b.Root(), "PLAIN.TXT", SeededBytes(1, 100));
    b.AddFile(b.Root(), "RO.TXT", {}, {}, EntryOptions::WithAttributes(format::kAttrReadOnly));
    b.AddFile(b.Root(), "HID.SYS", {}, {}, EntryOptions::WithAttributes(format::kAttrHidden));
    b.AddFile(b.Root(), "SYS.SYS", {}, {}, EntryOptions::WithAttributes(format::kAttrSystem));
    b.AddFile(b.Root(), "Long file name.txt", SeededBytes(2, 10));
    b.AddFile(b.Root(), "NOEXT", {});
    b.AddErased(b.Root(), {"GONE.BIN", false, 90, 512});
    // A file whose data is a copy of a directory sector, and two signature sectors.
    b.AddFile(b.Root(), "LOOKS.DIR", std::vector<uint8_t>(512, 0));
    b.AddFile(b.Root(), "F.BIN", {'F', 'I', 'L', 'E', 0x7F, 0x1F, 0x20, 0x80});
    b.AddFile(b.Root(), "I.BIN", {'I', 'N', 'D', 'X'});
    return b.Build();
}

TEST(HexViewTest, LinesColoursAndClampsOfTheBoxes) {
    Viewer v(Entries(ImageOptions::Fat16()));
    v.Launch([&](HexView& h) {
        const uint32_t f = v.image.Node(v.image.Find("/F.BIN")).runs.front().start;
        const uint32_t i = v.image.Node(v.image.Find("/I.BIN")).runs.front().start;
        const std::vector<std::pair<int64_t, int>> colours = {
            {0, 4},
            {1, 5},
            {int64_t(v.image.ClusterSector(f)), 1},
            {int64_t(v.image.ClusterSector(i)), 2},
            {2, 0}};
        for (const auto& [sector, colour] : colours) {
            Type(h, Box::Block, std::to_string(sector));
            EXPECT_EQ(h.SectorNo, sector);
            EXPECT_EQ(h.TextColour, colour) << sector;
        }
        Type(h, Box::Block, std::to_string(v.image.ClusterSector(f)));
        const std::vector<HexLine> lines = h.Lines();
        ASSERT_EQ(lines.size(), 32u);
        EXPECT_EQ(lines[0].Offset, "000");
        EXPECT_EQ(lines[1].Offset, "010");
        EXPECT_EQ(lines[31].Offset, "1F0");
        EXPECT_EQ(lines[0].Data, "46 49 4C 45 7F 1F 20 80|00 00 00 00 00 00 00 00");
        EXPECT_EQ(lines[0].Text, "FILE.. .........");

        // Digits and Backspace only; numbers past the volume's last sector clamp
        // to it (sectors count from the volume's start, so it lies beyond the
        // data area's size); pasted text is refused.
        EXPECT_TRUE(h.KeyPress(Box::Block, '7'));
        EXPECT_TRUE(h.KeyPress(Box::Dir, '\b'));
        const int beeps = v.ui.beeps;
        EXPECT_FALSE(h.KeyPress(Box::Block, 'x'));
        EXPECT_EQ(v.ui.beeps, beeps + 1);
        const int64_t last = static_cast<int64_t>(v.image.bytes().size() / 512) - 1;
        EXPECT_GT(last, v.ctx.geo.DataSectors - 1);
        for (const std::string typed : {"99999999", "123456789012345678901234567890"}) {
            Type(h, Box::Block, typed);
            EXPECT_EQ(h.SectorNo, last);
            EXPECT_EQ(h.txtBlock, std::to_string(last));
            EXPECT_TRUE(std::equal(h.SectorBuf.begin(), h.SectorBuf.end(),
                                   v.image.bytes().begin() + last * 512));
        }
        h.KeyDown(Box::Block, Key::Home);
        h.KeyDown(Box::Block, Key::End);
        EXPECT_EQ(h.SectorNo, last);
        Type(h, Box::Block, "12a");
        EXPECT_EQ(h.SectorNo, last);
        EXPECT_EQ(h.txtBlock, std::to_string(last));
        Type(h, Box::Block, "");
        EXPECT_EQ(h.SectorNo, 0);
        EXPECT_TRUE(h.Open);
    });
    EXPECT_EQ(v.ui.boxes, 0);
}

TEST(HexViewTest, PagingStopsAtBothEndsWithoutRedrawing) {
    Viewer v(Entries(ImageOptions::Fat16()));
    v.Launch([&](HexView& h) {
        for (const Box box : {Box::Dir, Box::Block}) {
            h.KeyDown(box, Key::Home);
            long shown = h.Displays;
            h.KeyDown(box, Key::PageUp);
            EXPECT_EQ(h.Displays, shown);
            h.KeyDown(box, Key::End);
            shown = h.Displays;
            h.KeyDown(box, Key::PageDown);
            EXPECT_EQ(h.Displays, shown);
            h.KeyDown(box, Key::PageUp);
            EXPECT_EQ(h.Displays, shown + 1);
        }
        // txtBlock leaves the folder index alone; txtDir follows the folder's runs.
        EXPECT_EQ(h.DirSector, h.DirLastSector - 1);
        Type(h, Box::Dir, "1");
        EXPECT_EQ(h.SectorNo, h.DirFirstSector + 1);
    });
}

TEST(HexViewTest, WalksFoldersByEitherLineOfAnEntryAndClimbsBack) {
    for (const bool fat32 : {false, true}) {
        ImageOptions options = fat32 ? ImageOptions::Fat32() : ImageOptions::Fat16();
        options.rootEntries = 512;
        Viewer v(Entries(options));
        v.Launch([&](HexView& h) {
            const int64_t rootLast = fat32 ? 0 : 31;
            EXPECT_EQ(h.lblDir, fat32 ? "Root Dir" : "RootDir");
            EXPECT_EQ(h.DirLastSector, rootLast);
            const int line = LineOf(h, "SUB        ");
            ASSERT_GE(line, 0);
            const uint32_t sub = v.image.Node(v.image.Find("/SUB")).runs.front().start;
            const int64_t spc = v.ctx.geo.SectorsPerCluster;
            for (const int y : {LineY(line) - 1, LineY(line + 2) - 2}) {
                h.Dir_Nest(y);
                EXPECT_EQ(h.DirDepth, 1);
                EXPECT_EQ(h.DirPathCluster[1], sub);
                EXPECT_EQ(h.lblDir, "sub");
                EXPECT_EQ(h.DirLastSector, 2 * spc - 1);  // two clusters apart
                EXPECT_EQ(h.SectorNo, v.image.ClusterSector(60));
                Type(h, Box::Dir, std::to_string(spc));
                EXPECT_EQ(h.SectorNo, v.image.ClusterSector(70));
                EXPECT_TRUE(h.In_Subdir(h.SectorNo));
                Type(h, Box::Dir, "0");
                const int beeps = v.ui.beeps;
                h.Dir_Nest(LineY(1));  // "."
                EXPECT_EQ(v.ui.beeps, beeps + 1);
                EXPECT_EQ(h.DirDepth, 1);
                h.Dir_Nest(LineY(2));  // ".." of a first-level folder
                EXPECT_EQ(h.DirDepth, 0);
                EXPECT_EQ(h.DirLastSector, rootLast);
                EXPECT_EQ(h.SectorNo, h.DirFirstSector);
            }
            // Esc climbs, then closes; the root keeps its size on the way back.
            h.Dir_Nest(LineY(line));
            h.Dir_Nest(LineY(LineOf(h, "INNER      ")));
            EXPECT_EQ(h.lblDir, "inner");
            h.Form_KeyDown(Key::Escape);
            EXPECT_EQ(h.lblDir, "sub");
            h.Form_KeyDown(Key::Escape);
            EXPECT_EQ(h.DirLastSector, rootLast);
            EXPECT_EQ(h.lblDir, fat32 ? "Root Dir" : "RootDir");
            EXPECT_TRUE(h.Open);
            h.Form_KeyDown(Key::Escape);
            EXPECT_FALSE(h.Open);
        });
        EXPECT_EQ(v.ui.boxes, 0);
        EXPECT_FALSE(v.ctx.io.VolumeHandle);
    }
}

TEST(HexViewTest, DepthStopsAtTwentyAndReadFailuresCloseWithTheDiskError) {
    ImageBuilder b(ImageOptions::Fat16());
    image::NodeId at = b.Root();
    for (int d = 1; d <= 22; ++d)
        at = b.AddFolder(at, "D" + std::to_string(d));
    Viewer v(b.Build());
    v.Launch([&](HexView& h) {
        for (int d = 1; d <= 22; ++d)
            h.Dir_Nest(LineY(LineOf(h, ("D" + std::to_string(d) + "          ").substr(0, 11))));
        EXPECT_EQ(h.DirDepth, kMaxDepth);
        EXPECT_EQ(h.lblDir, "d20");
        // A sector that cannot be read closes the viewer; the launch reports it.
        v.script.failReadSector = 5;
        h.Form_Unload();
        v.ctx.io.VolumeHandle = v.ctx.io.OpenVolume("c:\\", disk::Access::Read);
        Type(h, Box::Block, "5");
        EXPECT_FALSE(h.Open);
    });
    EXPECT_EQ(v.ui.lastBoxText, report::DiskErrorText());
}

// Marks of one entry at offset e, as the overlay table gives them.
std::vector<Mark> Expected(int e, int colour, bool deleted, bool ext, bool fat32) {
    std::vector<Mark> m;
    if (deleted) m.push_back({Pane::Data, e, 1, 2});
    if (colour == 0) m.push_back({Pane::Data, e + 11, 1, 2});
    m.push_back({Pane::Data, e + 11, 1, colour});
    if (!deleted && colour != 0) {
        m.push_back({Pane::Text, e, 8, colour});
        if (ext) m.push_back({Pane::Text, e + 8, 3, colour});
    }
    m.push_back({Pane::Data, e + 26, 2, 5});
    if (fat32) m.push_back({Pane::Data, e + 20, 2, 5});
    return m;
}

TEST(HexViewTest, MarksEveryEntryClassOnTheListAndInPixels) {
    for (const bool fat32 : {false, true}) {
        Viewer v(Entries(fat32 ? ImageOptions::Fat32() : ImageOptions::Fat16()));
        v.Launch([&](HexView& h) {
            struct Case {
                std::string name83;
                int colour;
                bool deleted, ext;
            };
            const std::vector<Case> cases = {{"PLAIN   TXT", 1, false, true},
                                             {"RO      TXT", 2, false, true},
                                             {"HID     SYS", 2, false, true},
                                             {"SYS     SYS", 2, false, true},
                                             {"SUB        ", 5, false, false},
                                             {"KESTRAVOL  ", 3, false, true},
                                             {"NOEXT      ", 1, false, false},
                                             {"\xE5"
                                              "ONE    BIN",
                                              1, true, true}};
            for (const Case& c : cases) {
                const int e = LineOf(h, c.name83) * 16;
                ASSERT_GE(e, 0) << c.name83;
                std::vector<Mark> mine;
                for (const Mark& m : h.Marks) {
                    if (m.pos >= e && m.pos < e + 32) mine.push_back(m);
                }
                EXPECT_EQ(mine, Expected(e, c.colour, c.deleted, c.ext, fat32)) << c.name83;
            }
            const auto [sector, e] = v.Entry("/Long file name.txt");
            ASSERT_EQ(sector, h.SectorNo);
            const Mark slot{Pane::Data, e - 32 + 11, 1, 2};
            EXPECT_NE(std::find(h.Marks.begin(), h.Marks.end(), slot), h.Marks.end());
            EXPECT_EQ(h.Marks, h.Xor_Dir_Info());

            // Pixels: the plain file's attribute frame and name fill show; drawing
            // the marks again gives back the bare panes; colour 0 changes nothing.
            display::Canvas offset, data, text, bareData, bareText;
            PrintPanes(h, offset, bareData, bareText);
            data = bareData;
            text = bareText;
            XorMarks(h.Marks, data, text);
            const int p = LineOf(h, "PLAIN   TXT") * 16;
            const PixelRect frame = MarkRects({Pane::Data, p + 11, 1, 1})[0];
            const PixelRect fill = MarkRects({Pane::Text, p, 8, 1})[0];
            const display::Rgb yellow{255, 255, 127};  // colour 1 over white
            EXPECT_EQ(data.Pixel(frame.left, frame.top), yellow);
            EXPECT_EQ(data.Pixel(frame.left + 1, frame.top + 1),
                      bareData.Pixel(frame.left + 1, frame.top + 1));
            EXPECT_EQ(text.Pixel(fill.left, fill.top), yellow);
            EXPECT_NE(data.Pixels(), bareData.Pixels());
            XorMarks(h.Marks, data, text);
            EXPECT_EQ(data.Pixels(), bareData.Pixels());
            EXPECT_EQ(text.Pixels(), bareText.Pixels());
            XorMarks({{Pane::Data, 0, 16, 0}, {Pane::Text, 0, 16, 0}}, data, text);
            EXPECT_EQ(data.Pixels(), bareData.Pixels());

            // A data sector full of entries, outside the folder walked: no marks.
            const uint32_t looks = v.image.Node(v.image.Find("/LOOKS.DIR")).runs.front().start;
            const int64_t dataSector = v.image.ClusterSector(looks);
            std::copy(h.SectorBuf.begin(), h.SectorBuf.end(),
                      v.memory->Bytes().begin() + dataSector * 512);
            Type(h, Box::Block, std::to_string(dataSector));
            EXPECT_EQ(h.SectorBuf[0], 'K');
            EXPECT_TRUE(h.Marks.empty());
        });
    }
}

TEST(HexViewTest, LaunchRefusesNoFatVolumeAndABrokenRootClosesWithTheViewerError) {
    image::FatImage img = ImageBuilder(ImageOptions::Floppy1440()).Build();
    std::fill(img.bytes().begin(), img.bytes().begin() + 512, 0);
    Viewer v(img);
    bool opened = false;
    EXPECT_FALSE(v.Launch([&](HexView&) { opened = true; }).empty());
    EXPECT_FALSE(opened);
    EXPECT_FALSE(v.ctx.io.VolumeHandle);

    // A FAT32 root whose chain is broken ends the set-up with the viewer's error box.
    image::FatImage broken = ImageBuilder(ImageOptions::Fat32()).Build();
    broken.SetFatEntry(broken.layout().rootCluster, 0);
    Viewer b(broken);
    b.Launch([&](HexView& h) { EXPECT_FALSE(h.Open); });
    EXPECT_EQ(b.ui.lastBoxText, report::HexErrorText("Root folder: Invalid chain"));
    EXPECT_FALSE(b.ctx.io.VolumeHandle);
}

}  // namespace
}  // namespace kestra::viewer
