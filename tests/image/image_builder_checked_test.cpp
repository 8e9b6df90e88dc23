// Images from the builder, judged by the outside tools: fsck.fat must find
// nothing and mtools must read back every byte.
#include <gtest/gtest.h>

#include "support/image.h"
#include "support/image_checks.h"
#include "support/test_env.h"

namespace kestra::testing {
namespace {

// A tree with every kind of entry the builder offers, placed so that files and
// folders are fragmented and one folder spans several clusters.
void AddRichTree(ImageBuilder& b, uint32_t base) {
    const size_t cb = b.options().sectorsPerCluster * 512;
    const NodeId docs = b.AddFolder(b.Root(), "DOCS", {{base + 40, 1}, {base + 60, 1}});
    b.AddFile(docs, "Long file name.txt", SeededBytes(1, 3 * cb + 100),
              {{base + 10, 3}, {base + 20, 1}});
    b.AddFile(docs, "readme.txt", SeededBytes(2, 700));
    b.AddErased(docs, {"Deleted report.doc", false, base + 70, 900});
    b.AddFile(docs, "EMPTY.DAT", {});
    b.AddFile(b.Root(), "AUTOEXEC.BAT", SeededBytes(3, 40), {},
              EntryOptions::WithAttributes(kAttrHidden | kAttrSystem | kAttrReadOnly));
    b.AddErased(b.Root(), {"GONE.TXT"});
    const NodeId deep = b.AddFolder(b.AddFolder(docs, "Sub folder one"), "level two");
    b.AddFile(deep, "deep file with a rather long name, past 26 chars.bin",
              SeededBytes(4, 9 * cb + 1), {{base + 80, 2}, {base + 50, 3}, {base + 90, 5}});
    b.AddFile(deep, "Explicit alias.txt", SeededBytes(5, 10), {},
              EntryOptions::WithAlias("ALIAS.TXT"));
    // Quotes, spaces and non-ASCII must survive the way to the tools.
    b.AddFile(b.AddFolder(b.Root(), "it's here"), "Ünïcode & 'quotes' (1).txt",
              SeededBytes(6, 1500));
    // Enough long-named entries to fill several clusters, folder taken in pieces.
    const NodeId many = b.AddFolder(b.Root(), "Many entries", {{base + 100, 8}, {base + 30, 5}});
    for (int i = 0; i < 60; ++i)
        b.AddFile(many, "entry number " + std::to_string(i) + ".dat",
                  i % 3 ? SeededBytes(100 + i, 1 + i * 37) : std::vector<uint8_t>{});
}

::testing::AssertionResult CleanAndReadable(const FatImage& image,
                                            std::vector<std::string> byPath = {}) {
    TempFile file("with space.img");
    EXPECT_EQ(image.WriteTo(file.path()), "");
    auto clean = FsckClean(file.path());
    if (!clean) return clean;
    // Deep long-name paths one by one, then everything in one sweep.
    for (const std::string& path : byPath) {
        auto one = ReadsBackByPath(image, file.path(), image.Find(path));
        if (!one) return one;
    }
    return ReadsBackIdentical(image, file.path());
}

TEST(ImageBuilderChecked, RichTreesPassFsckAndReadBack) {
    struct Case {
        const char* what;
        ImageOptions opts;
        FatType type;
        Runs rootRuns;  // FAT32: a root elsewhere and in pieces, with entries enough to span it
    };
    auto labelled = [](ImageOptions o, const char* label) {
        o.label = label;
        return o;
    };
    for (const Case& c :
         {Case{"floppy", labelled(ImageOptions::Floppy1440(), "FLOPPY"), FatType::kFat12, {}},
          Case{"fat16", labelled(ImageOptions::Fat16(), "KESTRA16"), FatType::kFat16, {}},
          Case{"fat32/1",
               labelled(ImageOptions::Fat32(1), "BIG VOLUME"),
               FatType::kFat32,
               {{300, 2}, {200, 3}}},
          Case{"fat32/8", ImageOptions::Fat32(8), FatType::kFat32, {}}}) {
        SCOPED_TRACE(c.what);
        ImageBuilder b(c.opts);
        AddRichTree(b, 10);
        if (!c.rootRuns.empty()) {
            b.SetRootRuns(c.rootRuns);
            for (int i = 0; i < 30; ++i)
                b.AddFile(b.Root(), "root file " + std::to_string(i), SeededBytes(i, 600));
        }
        const FatImage image = b.Build();
        ASSERT_EQ(image.type(), c.type);
        EXPECT_TRUE(CleanAndReadable(
            image, {"/DOCS/Sub folder one/level two/Explicit alias.txt", "/DOCS/Long file name.txt",
                    "/it's here/Ünïcode & 'quotes' (1).txt"}));
        // The 60 entries of "Many entries" really span the runs given.
        EXPECT_EQ(image.Node(image.Find("/Many entries")).runs, (Runs{{110, 8}, {40, 5}}));
        if (!c.rootRuns.empty()) {
            EXPECT_EQ(image.Node(kRootNode).runs, c.rootRuns);
        }
    }
}

// The type edges: the layout lands exactly on both sides of each, whatever the
// cluster size, and the tools agree with the builder.
TEST(ImageBuilderChecked, ExactClusterCountsAtTheTypeEdges) {
    for (auto [type, clusters] : {std::pair{FatType::kFat12, 4084u},
                                  {FatType::kFat16, 4085u},
                                  {FatType::kFat16, 65524u},
                                  {FatType::kFat32, 65525u}}) {
        SCOPED_TRACE(clusters);
        for (uint8_t spc : {1, 4}) {
            ImageOptions base;
            base.sectorsPerCluster = spc;
            const Layout l = ComputeLayout(OptionsForClusterCount(type, clusters, base));
            EXPECT_EQ(l.clusterCount, clusters);
            EXPECT_EQ(l.type, type);
        }
        ImageBuilder b(OptionsForClusterCount(
            type, clusters, clusters < 5000 ? ImageOptions::Floppy1440() : ImageOptions{}));
        // A file in the very last cluster proves the whole range is usable.
        b.AddFile(b.Root(), "LAST.BIN", SeededBytes(9, 512), {{clusters + 1, 1}});
        const FatImage image = b.Build();
        TempFile file;
        EXPECT_EQ(image.WriteTo(file.path()), "");
        EXPECT_TRUE(FsckClean(file.path()));
        EXPECT_TRUE(ReadsBackIdentical(image, file.path()));
        const std::string verbose = RunCommand("fsck.fat -n -v " + ShellQuote(file.path())).output;
        EXPECT_NE(verbose.find(std::to_string(clusters) + " data clusters"), std::string::npos)
            << verbose;
        const char* width = type == FatType::kFat12   ? "12 bit entries"
                            : type == FatType::kFat16 ? "16 bit entries"
                                                      : "32 bit entries";
        EXPECT_NE(verbose.find(width), std::string::npos) << verbose;
    }
    EXPECT_THROW(OptionsForClusterCount(FatType::kFat12, 4085), std::invalid_argument);
    EXPECT_THROW(OptionsForClusterCount(FatType::kFat32, 65524), std::invalid_argument);
    // Forcing keeps a rule-breaking volume possible, for tests of refusal.
    ImageOptions forced;
    forced.forceType = FatType::kFat32;
    EXPECT_EQ(ComputeLayout(OptionsForClusterCount(FatType::kFat32, 1000, forced)).type,
              FatType::kFat32);
}

}  // namespace
}  // namespace kestra::testing
