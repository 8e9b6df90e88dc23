#include <iostream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/exit_codes.h"

namespace {

const char* const kUsage =
    "Usage: kestra-cli COMMAND [OPTIONS] VOLUME\n"
    "\n"
    "Analyses and optimises FAT12, FAT16 and FAT32 volumes.\n"
    "\n"
    "Commands:\n"
    "  info VOLUME      print the volume's geometry, FAT type and cluster count\n"
    "  view VOLUME      fast view: the cluster map and the chains of the FAT\n"
    "  check VOLUME     checked view: the whole structure, files and folders\n"
    "  defrag VOLUME    make every file contiguous and pack free space to the end\n"
    "  hex VOLUME       show sectors in hex and text, directory entries marked:\n"
    "                   --sector N (absolute), or --dir PATH (a folder by its long\n"
    "                   or short path) with --index K (its K-th sector, from 0);\n"
    "                   --count C sectors in a row; --png FILE pictures them as\n"
    "                   the viewer window shows them\n"
    "  demo [DIR]       build a fragmented demo volume in DIR and defragment it;\n"
    "                   with --seed N, the random test volume of seed N instead\n"
    "  checksum VOLUME  record a checksum of every file in Checksum.L of the\n"
    "                   program folder ($KESTRA_HOME, else ~/.local/share/kestra)\n"
    "  validate VOLUME  compare every file with Checksum.L, list what changed or\n"
    "                   is missing and append it to CheckLog.L (exit 1 if any)\n"
    "  timing VOLUME    read every file and report the read rate\n"
    "\n"
    "VOLUME is an image file, PATH@N for primary partition N (1-4) of an image or\n"
    "disk with a partition table, an unmounted block device, or a drive letter\n"
    "mapped with --drive. The file tools also take a folder mapped with --drive.\n"
    "\n"
    "Options:\n"
    "  --drive L=PATH       map drive letter L to a volume\n"
    "  --codepage N         read short names and labels in DOS code page N\n"
    "                       (default 850, as mtools)\n"
    "  --map                draw the cluster map (live on a terminal)\n"
    "  --png FILE           save the final map picture (tools: the file\n"
    "                       distribution) as PNG\n"
    "  --log FILE           write every status line to FILE\n"
    "  --no-pack            defrag: make files contiguous, leave the gaps\n"
    "  --no-review          defrag: keep the map as the moves left it\n"
    "  --only PATH...       defrag: only these files, and the files below these\n"
    "                       folders (long or 8.3 names), each moved whole to the\n"
    "                       first free run that holds it; nothing else moves\n"
    "  --files              check: list every file with its fragments, not only\n"
    "                       the fragmented ones\n"
    "  --json               info, view, check, defrag: one JSON document on stdout\n"
    "                       instead of the status lines\n"
    "  --progress           one updating progress line on stderr (the default on a\n"
    "                       terminal without --map); --no-progress turns it off\n"
    "  --no-write-through   images: no barriers between the steps of a move\n"
    "                       (faster, not safe across a power cut)\n"
    "  -h, --help           show this help\n"
    "  --version            show the version\n"
    "\n"
    "Exit status: 0 clean, 1 structural errors, 2 drive busy or locked, 3 disk\n"
    "error, 4 internal error or out of memory, 5 stopped by the user, 6 a file\n"
    "named with --only is still in pieces or missing, 64 bad usage.\n";

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        std::cerr << "kestra-cli: no command given (try --help)\n";
        return kestra::cli::kExitUsage;
    }
    const std::string command = args.front();
    args.erase(args.begin());
    for (const std::string& a : args) {
        if (a == "-h" || a == "--help") {
            std::cout << kUsage;
            return kestra::cli::kExitClean;
        }
    }
    if (command == "--version") {
        std::cout << "kestra-cli " KESTRA_VERSION "\n";
        return kestra::cli::kExitClean;
    }
    if (command == "-h" || command == "--help" || command == "help") {
        std::cout << kUsage;
        return kestra::cli::kExitClean;
    }
    if (command == "info") return kestra::cli::InfoCommand(std::move(args));
    if (command == "view") return kestra::cli::ViewCommand(std::move(args));
    if (command == "check") return kestra::cli::CheckCommand(std::move(args));
    if (command == "defrag") return kestra::cli::DefragCommand(std::move(args));
    if (command == "hex") return kestra::cli::HexCommand(std::move(args));
    if (command == "demo") return kestra::cli::DemoCommand(std::move(args));
    if (command == "checksum") return kestra::cli::ChecksumCommand(std::move(args));
    if (command == "validate") return kestra::cli::ValidateCommand(std::move(args));
    if (command == "timing") return kestra::cli::TimingCommand(std::move(args));
    std::cerr << "kestra-cli: unknown command '" << command << "' (try --help)\n";
    return kestra::cli::kExitUsage;
}
