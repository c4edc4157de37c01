// tavex: the command-line tool; everything it does is in tavex_cli.
#include <iostream>

#include "TavexTool.h"

int main(int argc, char** argv) {
    return Tavex::Tool::runTavexTool(argc, argv, std::cout, std::cerr);
}
