// tavex-gateway as a whole, on the simulated demo plant: clients no one here
// wrote (Debian's mbpoll and python3-pymodbus) reading and writing its
// points, the watchdog and the stop writing the safe values, the map it
// prints, and the refusals of its command line and [gateway] table.  The
// gateway runs in this process, on a thread; the clients talk to it on
// 127.0.0.1 only, and every wait is bounded.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <sstream>

#include "DemoPlant.h"
#include "GatewayTool.h"
#include "Rig.h"
#include "support/TempDir.h"

using namespace Tavex::Gateway;
using Steady = std::chrono::steady_clock;

namespace {

struct Result {
    int code;
    std::string out, err;
};

Result runArguments(std::vector<std::string> arguments,
                    const GatewayEnvironment& environment = GatewayEnvironment()) {
    arguments.insert(arguments.begin(), "tavex-gateway");
    std::vector<char*> argv;
    for (std::string& word : arguments)
        argv.push_back(&word[0]);
    argv.push_back(0);
    std::ostringstream out, err;
    Result result;
    result.code = runGateway(int(arguments.size()), argv.data(), out, err, environment);
    result.out = out.str();
    result.err = err.str();
    return result;
}

// The gateway on the demo plant, on a thread, until the end of the scope.
class Running {
public:
    explicit Running(std::vector<std::string> arguments) : port_(0) {
        environment_.plant = &plant;
        environment_.stop = &stop_;
        environment_.listening = [this](unsigned port) {
            std::lock_guard<std::mutex> lock(mutex_);
            port_ = port;
            ready_.notify_all();
        };
        arguments.insert(arguments.end(), {"--sim", "--port", "0"});
        thread_ = std::thread([this, arguments] {
            result_ = runArguments(arguments, environment_);
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
            ready_.notify_all();
        });
        std::unique_lock<std::mutex> lock(mutex_);
        ready_.wait_for(lock, std::chrono::seconds(10), [this] { return port_ != 0 || done_; });
    }
    ~Running() { finish(); }
    unsigned port() const { return port_; }
    const Result& finish() {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        return result_;
    }

    Tavex::Tool::DemoPlant plant;

private:
    GatewayEnvironment environment_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::condition_variable ready_;
    unsigned port_;
    bool done_ = false;
    Result result_;
    std::thread thread_;
};

// A command's standard output and its exit status.
std::string shell(const std::string& command, int& status) {
    std::string output;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe) {
        status = -1;
        return output;
    }
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe))
        output += buffer;
    status = ::pclose(pipe);
    return output;
}

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// mbpoll once, 0-based references, on 127.0.0.1 with a 2 s timeout.
std::string mbpoll(unsigned port, const std::string& arguments, int& status) {
    return shell("timeout 20 mbpoll -m tcp -0 -1 -o 2 -p " + std::to_string(port) + " " +
                     arguments,
                 status);
}

}  // namespace

TEST(GatewayProgram, MbpollReadsAndWritesTheDemoPlant) {
    if (::access("/usr/bin/mbpoll", X_OK) != 0)
        GTEST_SKIP() << "mbpoll is not installed (Debian package mbpoll: scripts/setup.sh gateway)";
    Running gateway({});
    ASSERT_NE(gateway.port(), 0u);
    int status = 0;
    // mbpoll takes no -1 or -c when it writes.
    std::string text = shell("timeout 20 mbpoll -m tcp -0 -o 2 -p " +
                                 std::to_string(gateway.port()) +
                                 " -a 5 -t 0 -r 0 127.0.0.1 1 0 1 1 0 0 0 0",
                             status);
    ASSERT_EQ(status, 0) << text;
    // The test plug returns data lines 0-4 on discrete inputs 4-8.
    const auto deadline = Steady::now() + std::chrono::seconds(5);
    do {
        text = mbpoll(gateway.port(), "-a 5 -t 1 -r 4 -c 5 127.0.0.1", status);
        ASSERT_EQ(status, 0) << text;
    } while (!has(text, "[4]: \t1\n[5]: \t0\n[6]: \t1\n[7]: \t1\n[8]: \t0") &&
             Steady::now() < deadline);
    EXPECT_TRUE(has(text, "[4]: \t1\n[5]: \t0\n[6]: \t1\n[7]: \t1\n[8]: \t0")) << text;

    // A signed 32-bit value, high word first, on the Genius channel (unit 7).
    text = shell("timeout 20 mbpoll -m tcp -0 -o 2 -p " + std::to_string(gateway.port()) +
                     " -a 7 -t 4:int -B -r 2 127.0.0.1 -- -123456",
                 status);
    ASSERT_EQ(status, 0) << text;
    text = mbpoll(gateway.port(), "-a 7 -t 4:int -B -r 2 -c 1 127.0.0.1", status);
    EXPECT_TRUE(has(text, "[2]: \t-123456")) << text;

    // Refusals come through as the exceptions they are.
    text = mbpoll(gateway.port(), "-a 7 -t 4 -r 100 -c 2 127.0.0.1", status);
    EXPECT_TRUE(has(text, "Illegal data address")) << text;
    text = mbpoll(gateway.port(), "-a 2 -t 3 -r 0 -c 126 127.0.0.1", status);
    EXPECT_NE(status, 0) << text;   // mbpoll itself refuses more than 125

    const Result& result = gateway.finish();
    EXPECT_EQ(result.code, ExitDone) << result.err;
}

TEST(GatewayProgram, PymodbusReadsAndWritesTheDemoPlant) {
    int status = 0;
    const std::string probe = shell("/usr/bin/python3 -c 'import pymodbus.client'", status);
    if (status != 0)
        GTEST_SKIP() << "python3-pymodbus is not usable (Debian packages python3-pymodbus and "
                        "python3-serial-asyncio: scripts/setup.sh gateway): "
                     << probe;
    Running gateway({});
    ASSERT_NE(gateway.port(), 0u);
    const std::string text =
        shell(std::string("timeout 60 /usr/bin/python3 ") + TAVEX_GATEWAY_PYTHON_CLIENT + " " +
                  std::to_string(gateway.port()),
              status);
    EXPECT_EQ(status, 0) << text;
    EXPECT_TRUE(has(text, "all good")) << text;
}

TEST(GatewayProgram, WatchdogAndStopWriteTheSafeValues) {
    Running gateway({"--watchdog", "300"});
    ASSERT_NE(gateway.port(), 0u);
    Client c(modbus_new_tcp("127.0.0.1", int(gateway.port())));
    modbus_set_slave(c.ctx, 1);
    modbus_set_response_timeout(c.ctx, 2, 0);
    ASSERT_EQ(modbus_connect(c.ctx), 0);
    // The conveyor (coil 0 of the AC5) on; no write after that, so the
    // watchdog turns it off again.
    ASSERT_EQ(modbus_write_bit(c.ctx, 0, 1), 1);
    std::uint8_t conveyor = 9;
    ASSERT_EQ(modbus_read_bits(c.ctx, 0, 1, &conveyor), 1);
    EXPECT_EQ(conveyor, 1);
    const auto start = Steady::now();
    while (conveyor == 1 && Steady::now() - start < std::chrono::seconds(5)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ASSERT_EQ(modbus_read_bits(c.ctx, 0, 1, &conveyor), 1);
    }
    EXPECT_EQ(conveyor, 0);
    EXPECT_GE(Steady::now() - start, std::chrono::milliseconds(250));

    // On again, and the gateway stops: the conveyor stops with it.
    ASSERT_EQ(modbus_write_bit(c.ctx, 0, 1), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    const Result& result = gateway.finish();
    EXPECT_EQ(result.code, ExitDone);
    EXPECT_TRUE(has(result.err, "outputs at their safe values")) << result.err;
    EXPECT_FALSE(gateway.plant.conveyorRunning());
}

TEST(GatewayProgram, PrintsTheMapOfAPlantFile) {
    TempDir dir("tavex-gateway");
    const std::string file = (dir.path() / "plant.toml").string();
    std::ofstream(file) << "[cards.line]\ncard = \"ac5:0x300\"\n"
                           "[cards.sum]\ncard = \"dummy\"\n"
                           "[tracks.eyes]\ncard = \"line\"\ntrack = \"0:IIOO\"\n"
                           "points = [\"in\", \"out\"]\n"
                           "[tracks.total]\ncard = \"sum\"\ntrack = \"0:AU\"\n"
                           "[gateway]\nunit = { line = 17, sum = 3 }\nstatus_base = 100\n";
    // An option before the plant file leaves it the plant file.
    const Result result = runArguments({"--allow", "127.0.0.1", file, "--print-map"});
    EXPECT_EQ(result.code, ExitDone) << result.err;
    for (const char* line : {"17    discrete input    1          10002  eyes.1            I     out",
                             "17    coil              1          00002  eyes.3            O",
                             "3     holding register  0-1        40001  total.1           U",
                             "3     input register    100-101    30101  (scan counter)"})
        EXPECT_TRUE(has(result.out, line)) << line << "\nin\n" << result.out;
}

TEST(GatewayProgram, RefusesWhatIsWrong) {
    TempDir dir("tavex-gateway");
    const std::string cards = "[cards.line]\ncard = \"ac5:0x300\"\n"
                              "[cards.sum]\ncard = \"dummy\"\n"
                              "[tracks.eyes]\ncard = \"line\"\ntrack = \"0:IIOO\"\n";
    struct Case {
        const char* what;
        std::string gateway;                 // the [gateway] table's lines
        std::vector<std::string> options;    // after the plant file
        std::string message;                 // part of the error
    };
    const Case cases[] = {
        {"an unknown key", "colour = 1\n", {"--print-map"},
         "plant.toml:9:10: unknown key 'colour' in [gateway]"},
        {"a card without a unit", "unit = { line = 1 }\n", {"--print-map"},
         "card 'sum' has no unit"},
        {"a unit twice", "unit = { line = 1, sum = 1 }\n", {"--print-map"},
         "unit 1 is already card 'line'"},
        {"a unit of no card", "unit = { line = 1, sum = 2, belt = 3 }\n", {"--print-map"},
         "the plant has no card 'belt'"},
        {"a word order", "word_order = \"middle\"\n", {"--print-map"},
         "expected \"high-first\" or \"low-first\""},
        {"an allow-list entry", "allow = [\"localhost\"]\n", {"--print-map"},
         "not a numeric address or ADDRESS/BITS: 'localhost'"},
        {"outputs without consent", "", {},
         "clients of the gateway move the outputs of this PC's boards; give --yes"},
        {"a word order option", "", {"--word-order", "middle"}, "--word-order"},
        {"an exception code beyond 0x0B", "down_exception = 12\n", {"--print-map"},
         "plant.toml:9:18:"},
        {"an --allow entry", "", {"--allow", "127.0.0.1,nowhere", "--print-map"},
         "--allow: not an address: nowhere"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        const std::string file = (dir.path() / "plant.toml").string();
        std::ofstream(file) << cards << "[gateway]\n" << test.gateway;
        std::vector<std::string> arguments = {file};
        arguments.insert(arguments.end(), test.options.begin(), test.options.end());
        const Result result = runArguments(arguments);
        EXPECT_EQ(result.code, ExitUsage);
        EXPECT_TRUE(has(result.err, test.message)) << result.err;
    }
    const Result none = runArguments({});
    EXPECT_EQ(none.code, ExitUsage);
    EXPECT_TRUE(has(none.err, "give a plant file, or --sim for the demo plant")) << none.err;
}
