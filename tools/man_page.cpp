// man_page: writes the manual page from its template, with the option list
// that the program's option table gives in place of the template's line
// "@OPTIONS@". Relies on the command line's option table.
//
//   man_page TEMPLATE OUTPUT
#include <cstdio>
#include <fstream>
#include <string>

#include "command/command_line.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: man_page TEMPLATE OUTPUT\n", stderr);
        return 2;
    }
    std::ifstream in(argv[1]);
    if (!in) {
        std::fprintf(stderr, "man_page: cannot read %s\n", argv[1]);
        return 1;
    }
    std::string page;
    int found = 0;
    for (std::string line; std::getline(in, line);) {
        if (line == "@OPTIONS@") {
            page += ManualOptions();
            ++found;
        } else {
            page += line + "\n";
        }
    }
    if (found != 1) {
        std::fprintf(stderr, "man_page: %s needs one line @OPTIONS@\n", argv[1]);
        return 1;
    }
    // Written beside the target and renamed, so that a failed run leaves no
    // half-written page behind.
    const std::string temp = std::string(argv[2]) + ".tmp";
    std::ofstream out(temp, std::ios::trunc);
    out << page;
    out.close();
    if (!out || std::rename(temp.c_str(), argv[2]) != 0) {
        std::fprintf(stderr, "man_page: cannot write %s\n", argv[2]);
        std::remove(temp.c_str());
        return 1;
    }
    return 0;
}
