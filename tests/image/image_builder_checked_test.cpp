// Images from the builder at the type edges, judged by the outside tools:
// fsck.fat must find nothing and mtools must read back every byte. Volumes of
// every other shape are judged this way by the random-volume tests.
#include <gtest/gtest.h>

#include "support/image.h"
#include "support/image_checks.h"
#include "support/test_env.h"

namespace kestra::testing {
namespace {

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
