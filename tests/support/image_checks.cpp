#include "support/image_checks.h"

#include <algorithm>
#include <cctype>

#include "support/test_env.h"

namespace kestra::testing {

namespace {

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

}  // namespace

::testing::AssertionResult FsckClean(const std::string& imagePath) {
    const CommandResult r = FsckCheck(imagePath);
    if (r.exitStatus == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "fsck.fat -n exit " << r.exitStatus << ":\n"
                                         << r.output;
}

::testing::AssertionResult FsckFlags(const std::string& imagePath, const std::string& expected) {
    const CommandResult r = FsckCheck(imagePath);
    if (r.exitStatus != 0 && Lower(r.output).find(Lower(expected)) != std::string::npos)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "expected fsck.fat -n to report '" << expected << "', exit " << r.exitStatus << ":\n"
           << r.output;
}

::testing::AssertionResult ReadsBackIdentical(const FatImage& built, const std::string& image) {
    // One recursive copy is far quicker than one mcopy per file.
    TempDir out;
    const CommandResult r = RunCommand("MTOOLS_SKIP_CHECK=1 mcopy -s -n -i " + ShellQuote(image) +
                                       " '::/*' " + ShellQuote(out.path().string() + "/"));
    if (r.exitStatus != 0 && !built.Node(kRootNode).children.empty())
        return ::testing::AssertionFailure() << "mcopy -s exit " << r.exitStatus << ":\n"
                                             << r.output;
    for (NodeId id : built.Files()) {
        const NodeInfo& n = built.Node(id);
        std::vector<uint8_t> got;
        try {
            got = ReadFile(out.path().string() + n.path);
        } catch (const std::exception&) {
            return ::testing::AssertionFailure() << n.path << " was not copied out:\n" << r.output;
        }
        if (got != n.content)
            return ::testing::AssertionFailure()
                   << n.path << ": " << got.size() << " bytes read back, differing from the "
                   << n.content.size() << " written";
    }
    return ::testing::AssertionSuccess();
}

}  // namespace kestra::testing
