// phonaxis-manpage: writes the manual page phonaxis-cli(1), made from the
// command's own help texts, to the file named (build time).
#include "cli/CliCommands.h"

#include <cstdio>
#include <fstream>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: phonaxis-manpage OUT.1\n");
        return 2;
    }
    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out << phonaxis::cli::manualPage();
    out.close();
    if (!out) {
        std::fprintf(stderr, "phonaxis-manpage: \"%s\" could not be written\n", argv[1]);
        return 1;
    }
    return 0;
}
