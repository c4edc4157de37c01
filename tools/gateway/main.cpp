#include <iostream>

#include "GatewayTool.h"

int main(int argc, char** argv) {
    return Tavex::Gateway::runGateway(argc, argv, std::cout, std::cerr);
}
