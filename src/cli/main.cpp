#include "cli/CliCommands.h"

#include <exception>
#include <iostream>

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    try {
        return phonaxis::cli::run(args, std::cout, std::cerr);
    } catch (const std::exception& e) {
        std::cerr << "phonaxis-cli: " << e.what() << "\n";
    } catch (...) {
        std::cerr << "phonaxis-cli: unexpected failure\n";
    }
    return phonaxis::cli::kExitFailure;
}
