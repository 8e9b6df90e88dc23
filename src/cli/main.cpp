#include <iostream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/help_text.h"
#include "cli/options.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        std::cerr << "kestra-cli: no command given (try --help)\n";
        return kestra::cli::kExitUsage;
    }
    const std::string command = args.front();
    args.erase(args.begin());
    if (command == "--version") {
        std::cout << "kestra-cli " KESTRA_VERSION "\n";
        return kestra::cli::kExitClean;
    }
    if (command == "-h" || command == "--help" || command == "help") {
        // "help CMD" is "CMD --help".
        const std::string about = command == "help" && !args.empty() ? args.front() : "";
        const std::string text = kestra::cli::CommandHelp(about);
        if (!about.empty() && text.empty()) {
            std::cerr << "kestra-cli: unknown command '" << about << "' (try --help)\n";
            return kestra::cli::kExitUsage;
        }
        std::cout << (text.empty() ? kestra::cli::GeneralHelp() : text);
        return kestra::cli::kExitClean;
    }
    const std::string help = kestra::cli::CommandHelp(command);
    if (!help.empty() && kestra::cli::AsksForHelp(args)) {
        std::cout << help;
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
