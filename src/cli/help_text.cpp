#include "cli/help_text.h"

#include <map>

namespace kestra::cli {
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
    "  --log FILE           append every status line to FILE (checked before the\n"
    "                       run; --truncate-log starts it afresh)\n"
    "  --no-pack            defrag: make files contiguous, leave the gaps\n"
    "  --minimal            defrag: pack by a plan that moves as few bytes as it\n"
    "                       can (files already in place stay)\n"
    "  --dry-run            defrag: run everything against memory, write nothing,\n"
    "                       and say what the run would move and how long it takes\n"
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
    "  --                   the words after it are not options\n"
    "\n"
    "Options take their value as --opt=VALUE or --opt VALUE. 'kestra-cli COMMAND\n"
    "--help' shows one command's options. A bare letter that is also a file here\n"
    "is refused: write c: for the drive or ./c for the file.\n"
    "\n"
    "Colours and the live map need a terminal; NO_COLOR (set, not empty) or\n"
    "TERM=dumb turn them off.\n"
    "\n"
    "Exit status: 0 clean, 1 structural errors, 2 drive busy or locked, 3 disk\n"
    "error, 4 internal error or out of memory, 5 stopped by the user, 6 a file\n"
    "named with --only is still in pieces or missing, 64 bad usage.\n";

// What every command that names a volume takes.
const char* const kVolumeOptions =
    "  --drive L=PATH       map drive letter L to a volume\n"
    "  --codepage N         read short names and labels in DOS code page N\n"
    "                       (default 850)\n"
    "  --no-write-through   images: no barriers between the steps of a move\n"
    "  -h, --help           show this help\n";

const char* const kRunOptions =
    "  --map                draw the cluster map (live on a terminal)\n"
    "  --png FILE           save the final map picture as PNG\n"
    "  --log FILE           append every status line to FILE (checked before the\n"
    "                       run)\n"
    "  --truncate-log       empty the --log file first instead of appending\n"
    "  --json               one JSON document on stdout instead of the status lines\n"
    "  --progress           one updating progress line on stderr; --no-progress\n"
    "                       turns it off\n";

struct Help {
    const char* usage;
    const char* options;  // the command's own, before the volume options
    bool run = false;     // takes the options every run command shares
    bool volume = true;
};

const std::map<std::string, Help>& Helps() {
    static const std::map<std::string, Help> helps = {
        {"info",
         {"Usage: kestra-cli info [OPTIONS] VOLUME\n\n"
          "Prints the volume's geometry, FAT type and cluster count.\n",
          "  --json               one JSON document on stdout\n"}},
        {"view",
         {"Usage: kestra-cli view [OPTIONS] VOLUME\n\n"
          "Fast view: the cluster map and the chains of the FAT.\n",
          "  --files              list every file with its fragments\n", true}},
        {"check",
         {"Usage: kestra-cli check [OPTIONS] VOLUME\n\n"
          "Checked view: the whole structure, files and folders.\n",
          "  --files              list every file with its fragments, not only the\n"
          "                       fragmented ones\n",
          true}},
        {"defrag",
         {"Usage: kestra-cli defrag [OPTIONS] VOLUME\n\n"
          "Makes every file contiguous and packs free space to the end.\n",
          "  --no-pack            make files contiguous, leave the gaps\n"
          "  --minimal            pack by a plan that moves as few bytes as it can\n"
          "                       (files already in place stay)\n"
          "  --dry-run            write nothing: run against memory and say what the\n"
          "                       run would move, write and leave, and its time\n"
          "  --no-review          keep the map as the moves left it\n"
          "  --only PATH...       only these files, and the files below these folders\n"
          "                       (long or 8.3 names); nothing else moves\n",
          true}},
        {"hex",
         {"Usage: kestra-cli hex [OPTIONS] VOLUME\n\n"
          "Shows sectors in hex and text, directory entries marked.\n",
          "  --sector N           absolute sector N\n"
          "  --dir PATH           a folder by its long or short path\n"
          "  --index K            the K-th sector of that folder, from 0\n"
          "  --count C            C sectors in a row\n"
          "  --png FILE           picture them as the viewer window shows them\n"}},
        {"demo",
         {"Usage: kestra-cli demo [OPTIONS] [DIR]\n\n"
          "Builds a fragmented demo volume in DIR (default kestra-demo) and\n"
          "defragments it.\n",
          "  --seed N             the random test volume of seed N instead\n"
          "  -h, --help           show this help\n",
          false, false}},
        {"checksum",
         {"Usage: kestra-cli checksum [OPTIONS] VOLUME\n\n"
          "Records a checksum of every file in Checksum.L of the program folder.\n",
          "  --png FILE           save the file distribution as PNG\n"}},
        {"validate",
         {"Usage: kestra-cli validate [OPTIONS] VOLUME\n\n"
          "Compares every file with Checksum.L and appends what changed to\n"
          "CheckLog.L (exit 1 if anything did).\n",
          "  --png FILE           save the file distribution as PNG\n"}},
        {"timing",
         {"Usage: kestra-cli timing [OPTIONS] VOLUME\n\n"
          "Reads every file and reports the read rate.\n",
          "  --png FILE           save the file distribution as PNG\n"}},
    };
    return helps;
}

}  // namespace

const char* GeneralHelp() {
    return kUsage;
}

std::string CommandHelp(const std::string& command) {
    const auto found = Helps().find(command);
    if (found == Helps().end()) return {};
    const Help& help = found->second;
    std::string text = std::string(help.usage) + "\nOptions:\n" + help.options;
    if (help.run) text += kRunOptions;
    if (help.volume) text += kVolumeOptions;
    return text;
}

}  // namespace kestra::cli
