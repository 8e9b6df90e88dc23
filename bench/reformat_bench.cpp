// Times `kestra-cli defrag` (write-through, pack included) on a large, aged
// FAT32 card against the way everyone knows to get the same result: copy every
// file out with mcopy, mkfs.fat, copy them back; and `defrag --minimal` on an
// identical copy of the card, with its bytes moved against the planner's lower
// bound. Then a plain copy of the bytes
// the defrag moved, and a volume of many small fragmented files for the move
// rate. One run prints everything; the ratios and targets come last.
//
//   reformat_bench [DIR] [--cli PATH] [--keep] [--small-only]
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "image/dir_entry.h"
#include "image/image_builder.h"

extern char** environ;

using namespace kestra;
namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

[[noreturn]] void Fail(const std::string& why) {
    std::fprintf(stderr, "reformat_bench: %s\n", why.c_str());
    std::exit(2);
}

// splitmix64: the same volume on every machine and library.
struct Rng {
    uint64_t s;
    uint64_t Next() {
        uint64_t z = (s += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    uint64_t Below(uint64_t n) { return Next() % n; }
    double Unit() { return static_cast<double>(Next() >> 11) / 9007199254740992.0; }
    // Sizes of real media are spread evenly on a log scale, not a linear one.
    uint64_t LogUniform(uint64_t lo, uint64_t hi) {
        const double l = std::log(static_cast<double>(lo)), h = std::log(static_cast<double>(hi));
        return static_cast<uint64_t>(std::exp(l + (h - l) * Unit()));
    }
};

std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

int Sh(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

void FsyncFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0 || ::fsync(fd) != 0) Fail("cannot fsync " + path);
    ::close(fd);
}

struct GenFile {
    std::string path;  // inside the volume, "/" separated, no leading slash
    uint32_t seed = 0;
    size_t size = 0;
};

// What was generated, so the result can be judged without keeping the bytes.
struct Volume {
    std::string image;
    std::vector<GenFile> files;
    uint32_t folders = 0, fragmented = 0, gaps = 0, clusters = 0, clusterBytes = 0;
    uint64_t dataBytes = 0;
    uint8_t sectorsPerCluster = 0;
    std::string label;
};

// Counts what the built volume really holds: files in several pieces and free gaps.
void Measure(const image::FatImage& img, Volume& v) {
    const image::Layout& l = img.layout();
    std::vector<bool> used(uint64_t{l.MaxCluster()} + 1, false);
    for (image::NodeId id = 0; id < img.NodeCount(); ++id) {
        const image::NodeInfo& n = img.Node(id);
        if (!n.isFolder && n.runs.size() > 1) ++v.fragmented;
        for (uint32_t c : n.Clusters())
            used[c] = true;
    }
    for (uint32_t c = 2; c <= l.MaxCluster(); ++c)
        if (!used[c] && (c == 2 || used[c - 1])) ++v.gaps;
    v.clusters = l.clusterCount;
    v.clusterBytes = l.ClusterBytes();
}

void Write(const image::FatImage& img, Volume& v, const std::vector<std::string>& paths) {
    for (const std::string& p : paths) {
        const std::string error = img.WriteTo(p);
        if (!error.empty()) Fail(error);
        // Generation's write-back must not land inside a timed step.
        FsyncFile(p);
    }
    Measure(img, v);
}

uint32_t FolderClusters(const std::vector<std::string>& names, uint32_t clusterBytes) {
    uint32_t slots = 2;
    for (const std::string& n : names)
        slots += 1 + (image::IsPlainShortName(n)
                          ? 0
                          : static_cast<uint32_t>(image::LongNameSlots(n, 0).size()));
    return (slots * 32 + clusterBytes - 1) / clusterBytes;
}

// The card: 4 KB clusters, 1,046,524 of them (4 GiB), about 30,000 files in
// 350 folders, 1.8 GB of media, aged the way a card is: files written in an
// order that follows no folder, some written in several interleaved pieces, and
// holes left where files were deleted.
// With `smallOnly`, the card's small-file part: the same files, folders and
// ageing, every file of the card's small kind (1.5 to 48 KB), on 2 GiB.
Volume BuildCard(const std::string& path, const std::string& copy, bool smallOnly = false,
                 const std::string& copy2 = "") {
    const uint32_t kClusters = smallOnly ? 524288 : 1046524;
    constexpr uint32_t kTop = 14, kSubPerTop = 24, kFiles = 30400;
    constexpr uint32_t kFragmented = 5400, kGaps = 3700;
    constexpr uint32_t kCb = 4096;
    Rng rng{20240611};
    Volume v;
    v.image = path;
    v.sectorsPerCluster = 8;
    v.label = "BENCHCARD";

    static const char* const kTopNames[kTop] = {
        "DCIM",       "Music",  "Videos", "Pictures",  "Documents", "Podcasts", "Recordings",
        "Audiobooks", "Backup", "Camera", "Downloads", "Maps",      "Games",    "Projects"};
    struct Folder {
        std::string name;
        int parent = -1;  // index into folders; -1: the root
        std::vector<std::string> names;
        image::Runs runs;
    };
    struct File {
        uint32_t folder = 0;
        std::string name;
        size_t size = 0;
        uint32_t pieces = 1;
        image::Runs runs;
    };
    std::vector<Folder> folders;
    for (uint32_t t = 0; t < kTop; ++t)
        folders.push_back({kTopNames[t], -1, {}, {}});
    for (uint32_t t = 0; t < kTop; ++t)
        for (uint32_t s = 0; s < kSubPerTop; ++s) {
            char name[32];
            if (t == 0)
                std::snprintf(name, sizeof name, "%03uMEDIA", 100 + s);
            else
                std::snprintf(name, sizeof name, "%s %02u", s % 2 ? "Album" : "Set", s + 1);
            folders[t].names.push_back(name);
            folders.push_back({name, static_cast<int>(t), {}, {}});
        }

    // Mostly small files, a long tail of a few MB, and a handful of large videos.
    std::vector<File> files(kFiles);
    for (uint32_t i = 0; i < kFiles; ++i) {
        File& f = files[i];
        f.folder = kTop + static_cast<uint32_t>(rng.Below(kTop * kSubPerTop));
        const double kind = rng.Unit();
        char name[40];
        if (kind < 0.852) {
            f.size = rng.LogUniform(1500, 48 * 1024);
            std::snprintf(name, sizeof name, "IMG%05u.JPG", i);
        } else if (kind < 0.992) {
            f.size = rng.LogUniform(48 * 1024, 288 * 1024);
            std::snprintf(name, sizeof name, "Track %05u.mp3", i);
        } else {
            f.size = rng.LogUniform(1 << 20, 9 << 19);
            std::snprintf(name, sizeof name, "Clip %05u.mov", i);
        }
        if (smallOnly) {
            f.size = rng.LogUniform(1500, 48 * 1024);
            std::snprintf(name, sizeof name, "IMG%05u.JPG", i);
        } else if (i % 5000 == 7) {
            f.size = rng.LogUniform(25 << 20, 60 << 20);
            std::snprintf(name, sizeof name, "Film %05u.mp4", i);
        }
        f.name = name;
        folders[f.folder].names.push_back(f.name);
    }

    std::vector<uint32_t> order(kFiles);
    for (uint32_t i = 0; i < kFiles; ++i)
        order[i] = i;
    auto shuffle = [&rng](std::vector<uint32_t>& o) {
        for (size_t i = o.size(); i > 1; --i)
            std::swap(o[i - 1], o[rng.Below(i)]);
    };
    shuffle(order);
    uint32_t chosen = 0;
    for (uint32_t i : order)
        if (chosen < kFragmented && files[i].size > 2 * kCb) {
            files[i].pieces = 2 + static_cast<uint32_t>(rng.Below(3));
            ++chosen;
        }
    shuffle(order);

    // Lay everything out from cluster 3 (2 is the root); a file's later pieces
    // land after a few other files, as when several were written at once.
    uint32_t cursor = 3;
    int lastOwner = -1;  // a piece placed right after its own file's last would merge with it
    auto place = [&](int owner, image::Runs& runs, uint32_t length) {
        if (owner == lastOwner) ++cursor;
        if (cursor + length > kClusters + 2) Fail("the card layout does not fit");
        runs.push_back({cursor, length});
        cursor += length;
        lastOwner = owner;
    };
    const double gapChance = kGaps / (kFiles + kFragmented * 2.0 + folders.size());
    auto maybeGap = [&]() {
        if (rng.Unit() < gapChance) cursor += static_cast<uint32_t>(rng.LogUniform(1, 600));
    };
    struct Pending {
        uint64_t due;
        uint32_t file;
        uint32_t length;
    };
    std::vector<Pending> pending;
    auto flush = [&](uint64_t now) {
        std::stable_sort(pending.begin(), pending.end(),
                         [](const Pending& a, const Pending& b) { return a.due < b.due; });
        size_t n = 0;
        for (; n < pending.size() && pending[n].due <= now; ++n) {
            place(static_cast<int>(pending[n].file), files[pending[n].file].runs,
                  pending[n].length);
            maybeGap();
        }
        pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(n));
    };
    const int kFolderOwner = 1 << 30;
    auto placeFolder = [&](uint32_t d) {
        if (!folders[d].runs.empty()) return;
        if (folders[d].parent >= 0) {
            auto& p = folders[static_cast<uint32_t>(folders[d].parent)];
            if (p.runs.empty()) {
                place(kFolderOwner + folders[d].parent, p.runs, FolderClusters(p.names, kCb));
                maybeGap();
            }
        }
        place(kFolderOwner + static_cast<int>(d), folders[d].runs,
              FolderClusters(folders[d].names, kCb));
        maybeGap();
    };
    uint64_t step = 0;
    for (uint32_t i : order) {
        File& f = files[i];
        placeFolder(f.folder);
        const uint32_t clusters = static_cast<uint32_t>((f.size + kCb - 1) / kCb);
        const uint32_t pieces = std::min(f.pieces, clusters);
        // Cut points spread at random; every piece gets at least one cluster.
        std::vector<uint32_t> cuts{0, clusters};
        while (cuts.size() < pieces + 1) {
            const uint32_t c = 1 + static_cast<uint32_t>(rng.Below(clusters - 1));
            if (std::find(cuts.begin(), cuts.end(), c) == cuts.end()) cuts.push_back(c);
        }
        std::sort(cuts.begin(), cuts.end());
        place(static_cast<int>(i), f.runs, cuts[1]);
        maybeGap();
        uint64_t due = step;
        for (uint32_t p = 1; p < pieces; ++p) {
            due += 1 + rng.Below(20);
            pending.push_back({due, i, cuts[p + 1] - cuts[p]});
        }
        flush(step++);
    }
    flush(UINT64_MAX);
    for (uint32_t d = 0; d < folders.size(); ++d)
        placeFolder(d);  // folders no file landed in

    image::ImageOptions options;
    options.sectorsPerCluster = v.sectorsPerCluster;
    options.label = v.label;
    image::ImageBuilder b(
        image::OptionsForClusterCount(image::FatType::kFat32, kClusters, options));
    std::vector<image::NodeId> ids(folders.size());
    for (uint32_t d = 0; d < folders.size(); ++d) {
        const image::NodeId parent =
            folders[d].parent < 0 ? b.Root() : ids[static_cast<uint32_t>(folders[d].parent)];
        ids[d] = b.AddFolder(parent, folders[d].name, folders[d].runs);
    }
    for (uint32_t i = 0; i < kFiles; ++i) {
        const File& f = files[i];
        const Folder& d = folders[f.folder];
        b.AddFile(ids[f.folder], f.name, image::SeededBytes(i + 1, f.size), f.runs);
        v.files.push_back(
            {folders[static_cast<uint32_t>(d.parent)].name + "/" + d.name + "/" + f.name, i + 1,
             f.size});
        v.dataBytes += f.size;
    }
    v.folders = static_cast<uint32_t>(folders.size());
    std::vector<std::string> paths{path};
    for (const std::string& p : {copy, copy2})
        if (!p.empty()) paths.push_back(p);
    Write(b.Build(), v, paths);
    return v;
}

// The worst case for small moves: 10,000 files of 2 or 3 clusters (2 KB) in
// 100 folders, every one in two pieces far apart, laid out so that each move
// lands in the clusters the move before it freed: no two moves can share a
// batch, and each pays the barriers of its steps alone.
Volume BuildSmallFiles(const std::string& path) {
    constexpr uint32_t kFolders = 100, kPerFolder = 100, kCb = 2048;
    Rng rng{77};
    Volume v;
    v.image = path;
    v.sectorsPerCluster = 4;
    image::ImageOptions options;
    options.sectorsPerCluster = v.sectorsPerCluster;
    image::ImageBuilder b(image::OptionsForClusterCount(image::FatType::kFat32, 100000, options));
    uint32_t i = 0;
    for (uint32_t d = 0; d < kFolders; ++d) {
        const std::string folder = "DIR" + std::to_string(d);
        const auto id = b.AddFolder(b.Root(), folder);  // first free clusters, below the files
        for (uint32_t f = 0; f < kPerFolder; ++f, ++i) {
            const uint32_t clusters = 2 + static_cast<uint32_t>(rng.Below(2));
            const size_t size = (clusters - 1) * kCb + 1 + rng.Below(kCb);
            const std::string name = "FILE" + std::to_string(f) + ".DAT";
            b.AddFile(id, name, image::SeededBytes(i + 1, size),
                      {{1000 + i * 2, 1}, {30000 + i * 3, clusters - 1}});
            v.files.push_back({folder + "/" + name, i + 1, size});
            v.dataBytes += size;
        }
    }
    v.folders = kFolders;
    Write(b.Build(), v, {path});
    return v;
}

std::string Shape(const Volume& v) {
    char s[300];
    std::snprintf(s, sizeof s,
                  "%zu files in %u folders, %u of them fragmented, %u free gaps (the free end "
                  "included), %.2f GB of data, "
                  "%u clusters of %u KB (%.2f GiB)",
                  v.files.size(), v.folders, v.fragmented, v.gaps, v.dataBytes / 1e9, v.clusters,
                  v.clusterBytes / 1024, double(v.clusters) * v.clusterBytes / (1u << 30));
    return s;
}

bool FsckClean(const std::string& image) {
    return Sh("fsck.fat -n " + Quote(image) + " >/dev/null 2>&1") == 0;
}

// Copies every file out through mtools and compares it with the bytes it was
// generated with; nothing more or less may be on the volume. Empty: identical.
std::string CompareFiles(const Volume& v, const std::string& dir) {
    fs::remove_all(dir);
    if (Sh("MTOOLS_SKIP_CHECK=1 mcopy -s -n -i " + Quote(v.image) + " ::/ " + Quote(dir)) != 0)
        return "mcopy failed";
    std::string problem;
    size_t bad = 0, found = 0;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        found += e.is_regular_file() ? 1 : 0;
    std::vector<char> got;
    for (const GenFile& f : v.files) {
        std::ifstream in(dir + "/" + f.path, std::ios::binary);
        got.assign(f.size + 1, 0);
        in.read(got.data(), static_cast<std::streamsize>(got.size()));
        const std::vector<uint8_t> want = image::SeededBytes(f.seed, f.size);
        if (!in.eof() || static_cast<size_t>(in.gcount()) != f.size ||
            !std::equal(want.begin(), want.end(), reinterpret_cast<uint8_t*>(got.data()))) {
            if (bad++ == 0) problem = f.path + " differs";
        }
    }
    fs::remove_all(dir);
    if (bad > 0) return std::to_string(bad) + " files differ (first " + problem + ")";
    if (found != v.files.size())
        return std::to_string(found) + " files on the volume, " + std::to_string(v.files.size()) +
               " written";
    return {};
}

struct KestraRun {
    int exitStatus = -1;
    double wall = 0;
    long peakKb = 0;
    uint32_t movedFiles = 0;
    double movedMib = 0, runTime = 0;  // its own "Mb=" (MiB) and "Time=" fields
    double lowerBoundMib = -1;         // the log's "Lower bound=" (MiB), when it gives one
    double estimate = -1;              // a dry run's "Estimated time:", in seconds
    std::string gapsLine, fragmentedLine;
    std::vector<std::string> afterMoved;
};

constexpr const char* kSpawnResult = "@reformat_bench:";

pid_t Spawn(std::vector<std::string> args, int stdoutFd) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (stdoutFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, stdoutFd, 1);
        posix_spawn_file_actions_addclose(&actions, stdoutFd);
    }
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        Fail("cannot start " + args[0]);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// `reformat_bench --spawn PROGRAM ARGS...`: runs the program and prints its exit
// status, wall clock and ru_maxrss last. A child's ru_maxrss starts from the
// high-water mark of the process it was started from, and the benchmark holds
// gigabytes while it builds the card; from this small process the child's
// peak is its own.
int SpawnMain(int argc, char** argv) {
    const auto start = Clock::now();
    const pid_t pid = Spawn(std::vector<std::string>(argv + 2, argv + argc), -1);
    int status = 0;
    rusage usage{};
    if (::wait4(pid, &status, 0, &usage) != pid) Fail("wait4");
    const double wall = Seconds(start);
    std::printf("%s %d %.6f %ld\n", kSpawnResult,
                WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), wall,
                usage.ru_maxrss);
    return 0;
}

// Runs `kestra-cli defrag` as its own process: the wall clock and the peak
// memory are the whole program's, as a user sees them.
KestraRun RunKestra(const std::string& cli, const std::string& image, const std::string& log,
                    const std::vector<std::string>& extra) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) Fail("pipe");
    std::vector<std::string> args = {
        fs::canonical("/proc/self/exe").string(), "--spawn", cli, "defrag", "--log", log};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(image);
    const pid_t pid = Spawn(args, out[1]);
    ::close(out[1]);
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) != 0;) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
        text.append(buffer, static_cast<size_t>(n));
    }
    ::close(out[0]);
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        Fail("the launcher failed");
    KestraRun r;
    bool moved = false;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        if (line.rfind(kSpawnResult, 0) == 0) {
            std::sscanf(line.c_str() + std::strlen(kSpawnResult), "%d %lf %ld", &r.exitStatus,
                        &r.wall, &r.peakKb);
        } else if (line.rfind("Estimated time: ", 0) == 0) {
            long minutes = 0, seconds = 0;
            const char* t = line.c_str() + std::strlen("Estimated time: ");
            if (std::sscanf(t, "%ld min %ld s", &minutes, &seconds) == 2)
                r.estimate = 60.0 * minutes + seconds;
            else
                r.estimate = std::atof(t);
        } else if (moved) {
            if (!line.empty()) r.afterMoved.push_back(line);
        } else if (line.rfind("Moved:", 0) == 0) {
            moved = true;
            r.afterMoved.push_back(line);
            std::sscanf(line.c_str(), "Moved: Files=%u, Mb=%lf Time=%lf", &r.movedFiles,
                        &r.movedMib, &r.runTime);
        } else if (r.gapsLine.empty() && line.rfind("Gaps=", 0) == 0) {
            r.gapsLine = line;
        } else if (r.fragmentedLine.empty() && line.rfind("Fragmented files=", 0) == 0) {
            r.fragmentedLine = line;
        }
    }
    // The log's last line gives the planner's lower bound.
    std::ifstream in(log);
    std::string last;
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line != "\r") last = line;
    if (const size_t at = last.find("Lower bound="); at != std::string::npos)
        r.lowerBoundMib = std::atof(last.c_str() + at + std::strlen("Lower bound="));
    return r;
}

double MovedBytes(const KestraRun& r) {
    return r.movedMib * 1048576.0;
}

// Runs Kestra on a generated volume and judges the result; prints both.
KestraRun DefragAndJudge(const std::string& cli, const Volume& v, const std::string& dir,
                         bool& problems, const std::vector<std::string>& extra = {}) {
    const std::string log = dir + "/kestra-bench.log";
    fs::remove(log);  // --log appends
    const KestraRun r = RunKestra(cli, v.image, log, extra);
    std::printf("  before (its analysis): %s, %s\n", r.fragmentedLine.c_str(), r.gapsLine.c_str());
    for (const std::string& l : r.afterMoved)
        std::printf("  | %s\n", l.c_str());
    std::printf("  wall %.2f s, exit status %d, peak memory %.1f MB\n", r.wall, r.exitStatus,
                r.peakKb / 1024.0);
    const bool clean = FsckClean(v.image);
    const std::string diff = CompareFiles(v, dir + "/kestra-bench-check");
    std::printf("  fsck.fat -n: %s; files read back through mtools: %s\n",
                clean ? "clean" : "PROBLEMS", diff.empty() ? "identical" : diff.c_str());
    const bool ok = clean && diff.empty() && r.exitStatus == 0 && r.movedFiles > 0;
    if (!ok) std::printf("  PROBLEMS\n");
    problems |= !ok;
    return r;
}

struct Reformat {
    double copyOut = 0, format = 0, copyIn = 0;
    double Total() const { return copyOut + format + copyIn; }
};

Reformat RunReformat(const Volume& v, const std::string& image, const std::string& dir,
                     bool& problems) {
    const std::string outdir = dir + "/kestra-bench-files";
    fs::remove_all(outdir);
    const std::string mtools = "MTOOLS_SKIP_CHECK=1 ";
    Reformat r;
    auto timed = [&problems](double& seconds, const std::string& command) {
        const auto start = Clock::now();
        if (Sh(command) != 0) {
            std::printf("  failed: %s\n", command.c_str());
            problems = true;
        }
        seconds = Seconds(start);
    };
    timed(r.copyOut, mtools + "mcopy -s -n -i " + Quote(image) + " ::/ " + Quote(outdir));
    timed(r.format, "mkfs.fat -F 32 -S 512 -s " + std::to_string(v.sectorsPerCluster) +
                        " -R 32 -f 2 -n " + v.label + " " + Quote(image) + " >/dev/null");
    {
        const auto start = Clock::now();
        if (Sh(mtools + "mcopy -s -n -i " + Quote(image) + " " + Quote(outdir) + "/* ::/") != 0) {
            std::printf("  failed: copy-in\n");
            problems = true;
        }
        FsyncFile(image);  // as durable as the write-through defrag
        r.copyIn = Seconds(start);
    }
    fs::remove_all(outdir);
    const bool clean = FsckClean(image);
    problems |= !clean;
    std::printf(
        "  copy-out %.2f s + mkfs.fat %.2f s + copy-in and fsync %.2f s = %.2f s; "
        "fsck.fat -n afterwards: %s\n",
        r.copyOut, r.format, r.copyIn, r.Total(), clean ? "clean" : "PROBLEMS");
    return r;
}

// A buffered copy of `bytes` (the source read round and round) into a new
// file, then fsync: what cp does, made durable.
double RawCopy(const std::string& source, uint64_t bytes) {
    const std::string target = source + ".cp";
    const int in = ::open(source.c_str(), O_RDONLY);
    const int out = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const off_t size = in < 0 ? 0 : ::lseek(in, 0, SEEK_END);
    if (in < 0 || out < 0 || size <= 0) Fail("cannot copy " + source);
    std::vector<uint8_t> buffer(1 << 20);
    const auto start = Clock::now();
    for (uint64_t done = 0; done < bytes;) {
        const off_t from = static_cast<off_t>(done % static_cast<uint64_t>(size));
        const size_t n = static_cast<size_t>(
            std::min<uint64_t>({buffer.size(), bytes - done, static_cast<uint64_t>(size - from)}));
        const ssize_t got = ::pread(in, buffer.data(), n, from);
        if (got <= 0 || ::write(out, buffer.data(), static_cast<size_t>(got)) != got)
            Fail("copy failed");
        done += static_cast<uint64_t>(got);
    }
    if (::fsync(out) != 0) Fail("fsync failed");
    const double seconds = Seconds(start);
    ::close(in);
    ::close(out);
    ::unlink(target.c_str());
    return seconds;
}

double Ratio(double a, double b) {
    return b > 0 ? a / b : 0;
}
const char* Met(bool met) {
    return met ? "met" : "NOT met";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 2 && std::string(argv[1]) == "--spawn") return SpawnMain(argc, argv);
    std::string dir = "/tmp", cli;
    bool keep = false, smallOnly = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--cli" && i + 1 < argc)
            cli = argv[++i];
        else if (a == "--keep")
            keep = true;
        else if (a == "--small-only")
            smallOnly = true;
        else if (!a.empty() && a[0] != '-')
            dir = a;
        else
            Fail("usage: reformat_bench [DIR] [--cli PATH] [--keep] [--small-only]");
    }
    // Built beside this program: build/bench/reformat_bench, build/kestra-cli.
    if (cli.empty())
        cli = (fs::canonical("/proc/self/exe").parent_path().parent_path() / "kestra-cli").string();
    if (::access(cli.c_str(), X_OK) != 0) Fail(cli + " is not there (give --cli PATH)");
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::printf("kestra-cli: %s\nimages in: %s\n\n", cli.c_str(), dir.c_str());
    bool problems = false;

    KestraRun large, minimal, dry;
    Reformat reformat;
    double rawCp = 0;
    Volume card;
    if (!smallOnly) {
        std::printf("(1) Generating the card (not timed)...\n");
        const std::string copy = dir + "/kestra-bench-card-reformat.img";
        const std::string planned = dir + "/kestra-bench-card-minimal.img";
        auto start = Clock::now();
        card = BuildCard(dir + "/kestra-bench-card.img", copy, false, planned);
        std::printf("  %s\n  built in %.1f s; ", Shape(card).c_str(), Seconds(start));
        const bool clean = FsckClean(card.image);
        problems |= !clean;
        std::printf("fsck.fat -n: %s\n\n", clean ? "clean" : "PROBLEMS");

        std::printf("(2) kestra-cli defrag (write-through, pack included)\n");
        large = DefragAndJudge(cli, card, dir, problems);
        std::printf(
            "\n(2b) kestra-cli defrag --dry-run --minimal, then --minimal, on the same card\n");
        Volume plannedCard = card;
        plannedCard.image = planned;
        {
            const std::string log = dir + "/kestra-bench-dry.log";
            dry = RunKestra(cli, planned, log, {"--dry-run", "--minimal"});
            fs::remove(log);
            std::printf("  dry run: exit status %d, wall %.2f s, estimate %.1f s\n", dry.exitStatus,
                        dry.wall, dry.estimate);
            problems |= dry.exitStatus != 0;
        }
        minimal = DefragAndJudge(cli, plannedCard, dir, problems, {"--minimal"});
        if (!keep) fs::remove(planned);
        std::printf("\n(3) Reformat: mcopy -s out, mkfs.fat, mcopy -s back, fsync\n");
        reformat = RunReformat(card, copy, dir, problems);
        std::printf("\n(4) Raw copy of the %.0f MB Kestra moved (buffered, then fsync)\n",
                    MovedBytes(large) / 1e6);
        rawCp = RawCopy(copy, static_cast<uint64_t>(MovedBytes(large)));
        std::printf("  %.2f s, %.1f MB/s\n\n", rawCp, Ratio(MovedBytes(large) / 1e6, rawCp));
        if (!keep) {
            fs::remove(card.image);
            fs::remove(copy);
        }
    }

    std::printf("(5) The card's small-file part (not timed: generating)\n");
    const Volume small = BuildCard(dir + "/kestra-bench-small.img", "", true);
    std::printf("  %s\n", Shape(small).c_str());
    const KestraRun s = DefragAndJudge(cli, small, dir, problems);
    if (!keep) fs::remove(small.image);

    std::printf("\n(6) Worst case: every small move lands where the one before freed\n");
    const Volume chain = BuildSmallFiles(dir + "/kestra-bench-chain.img");
    std::printf("  %s\n", Shape(chain).c_str());
    const std::string chainCopy = dir + "/kestra-bench-chain-minimal.img";
    fs::copy_file(chain.image, chainCopy, fs::copy_options::overwrite_existing);
    const KestraRun w = DefragAndJudge(cli, chain, dir, problems);
    std::printf("  and with --minimal:\n");
    Volume chainPlanned = chain;
    chainPlanned.image = chainCopy;
    const KestraRun wm = DefragAndJudge(cli, chainPlanned, dir, problems, {"--minimal"});
    if (!keep) {
        fs::remove(chain.image);
        fs::remove(chainCopy);
    }

    std::printf("\n== Summary ==\n");
    if (!smallOnly) {
        const double vsReformat = Ratio(large.wall, reformat.Total());
        std::printf("Kestra / reformat: %.1f s / %.1f s = %.2f  (below 1.0: %s; aim 0.5: %s)\n",
                    large.wall, reformat.Total(), vsReformat, Met(vsReformat > 0 && vsReformat < 1),
                    Met(vsReformat > 0 && vsReformat <= 0.5));
        const double planned = Ratio(minimal.wall, reformat.Total());
        std::printf(
            "--minimal / reformat: %.1f s / %.1f s = %.2f  (below 0.35: %s; aim 0.25: %s)\n",
            minimal.wall, reformat.Total(), planned, Met(planned > 0 && planned < 0.35),
            Met(planned > 0 && planned <= 0.25));
        const double bound = minimal.lowerBoundMib;
        std::printf(
            "--minimal moved %.0f MB in %u moves; lower bound %.0f MB; %.2f x (at most 1.2: "
            "%s)\n",
            MovedBytes(minimal) / 1e6, minimal.movedFiles, bound * 1048576.0 / 1e6,
            Ratio(minimal.movedMib, bound), Met(bound > 0 && minimal.movedMib <= 1.2 * bound));
        const double off = dry.estimate > 0 && minimal.wall > 0
                               ? std::max(dry.estimate / minimal.wall, minimal.wall / dry.estimate)
                               : 0;
        std::printf(
            "--dry-run --minimal estimated %.1f s for the %.1f s run: off by %.2f x (within "
            "1.5: %s)\n",
            dry.estimate, minimal.wall, off, Met(off > 0 && off <= 1.5));
        std::printf("Kestra / raw cp:   %.1f s / %.1f s = %.2f\n", large.wall, rawCp,
                    Ratio(large.wall, rawCp));
        std::printf("Bytes moved: %.0f MB in %u moves, %.1f x the %.2f GB of data\n",
                    MovedBytes(large) / 1e6, large.movedFiles,
                    Ratio(MovedBytes(large), double(card.dataBytes)), card.dataBytes / 1e9);
        const double budget = 16.0 * card.clusters + 200.0 * card.files.size();
        const double peak = large.peakKb * 1024.0;
        std::printf(
            "Peak memory: %.1f MB; budget 16 B x %u clusters + 200 B x %zu files = "
            "%.1f MB: %s\n",
            peak / 1e6, card.clusters, card.files.size(), budget / 1e6,
            peak <= budget ? "within" : "OVER");
    }
    const double byTime = Ratio(s.movedFiles, s.runTime), byWall = Ratio(s.movedFiles, s.wall);
    std::printf(
        "Small files: %u moves, %.0f per second by its Time= (%.1f s), %.0f by the wall "
        "clock (%.2f s); at least 5000: %s\n",
        s.movedFiles, byTime, s.runTime, byWall, s.wall, Met(byTime >= 5000));
    for (const auto& [name, r] : {std::pair{"Worst case: ", &w}, std::pair{"  --minimal:", &wm}}) {
        const double rate = Ratio(r->movedFiles, r->runTime);
        std::printf(
            "%s %u moves, %.0f per second by its Time= (%.1f s), %.0f by the wall "
            "clock (%.2f s); above 5000: %s\n",
            name, r->movedFiles, rate, r->runTime, Ratio(r->movedFiles, r->wall), r->wall,
            Met(rate > 5000));
    }
    std::printf("Results: %s\n", problems ? "PROBLEMS (see above)" : "clean");
    return problems ? 1 : 0;
}
