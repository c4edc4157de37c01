// tavex-gateway: the tracks of a plant file served over Modbus TCP, while
// the scan runs them.  The program only calls runGateway; the tests run it
// in-process on a thread of their own, the same way.
#ifndef TAVEX_TOOLS_GATEWAY_GATEWAYTOOL_H
#define TAVEX_TOOLS_GATEWAY_GATEWAYTOOL_H

#include <atomic>
#include <functional>
#include <ostream>

namespace Tavex {
namespace Tool {
class DemoPlant;
}

namespace Gateway {

class Server;

enum ExitCode {
    ExitDone = 0,      // stopped by a signal or by stop
    ExitFailed = 1,    // the plant, a card, the network or the scan failed; the text is printed
    ExitUsage = 2      // the command line or the plant file's [gateway] table is wrong
};

struct GatewayEnvironment {
    GatewayEnvironment() : plant(0), stop(0) {}
    // The simulated PC that --sim runs on; null: one of its own.
    Tool::DemoPlant* plant;
    // Called once the server listens (the port it got, for a port of 0).
    std::function<void(unsigned port)> listening;
    // Set to stop the gateway; null: only SIGINT and SIGTERM stop it.
    std::atomic<bool>* stop;
};

// argv[0] is the program's name.  Returns the exit status.
int runGateway(int argc, char** argv, std::ostream& out, std::ostream& err,
               const GatewayEnvironment& environment = GatewayEnvironment());

}  // namespace Gateway
}  // namespace Tavex

#endif
