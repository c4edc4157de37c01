// Runs the tavex tool in-process, as the program would with these
// arguments, and keeps what it printed.  Waits for real are counted, never
// made.
#ifndef TAVEX_TESTS_TOOL_TOOLRUN_H
#define TAVEX_TESTS_TOOL_TOOLRUN_H

#include <sstream>
#include <string>
#include <vector>

#include "TavexTool.h"

struct ToolRun {
    int code;
    std::string out;
    std::string err;
    unsigned long realSleeps;   // milliseconds the tool asked to wait for real
};

// plant: the demo plant that --sim and demo use, or null for a fresh one.
inline ToolRun runTool(const std::vector<std::string>& arguments,
                       Tavex::Tool::DemoPlant* plant = 0, bool terminal = false) {
    std::vector<std::string> words(1, "tavex");
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(&word[0]);
    argv.push_back(0);

    ToolRun run = {0, "", "", 0};
    Tavex::Tool::Environment environment;
    environment.terminal = terminal;
    environment.plant = plant;
    environment.realSleep = [&run](unsigned long ms) { run.realSleeps += ms; };
    std::ostringstream out, err;
    run.code = Tavex::Tool::runTavexTool(static_cast<int>(words.size()), argv.data(), out, err,
                                         environment);
    run.out = out.str();
    run.err = err.str();
    return run;
}

inline std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

#endif
