// Runs the tavex tool in-process, as the program would with these
// arguments, and keeps what it printed.  Waits for real are counted, never
// made.
#ifndef TAVEX_TESTS_TOOL_TOOLRUN_H
#define TAVEX_TESTS_TOOL_TOOLRUN_H

#include <chrono>
#include <functional>
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
// columns: the width of the terminal, or of what stands for it.
// adjust: changes to the environment (NO_COLOR, ...) before the run.
inline ToolRun runTool(const std::vector<std::string>& arguments,
                       Tavex::Tool::DemoPlant* plant = 0, bool terminal = false,
                       unsigned columns = 80,
                       const std::function<void(Tavex::Tool::Environment&)>& adjust = nullptr) {
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
    // Real time passes only where the tool waits for it.
    environment.steadyMs = [&run]() { return 1000 + run.realSleeps; };
    environment.wallClock = [&run]() {
        return std::chrono::system_clock::time_point(
            std::chrono::milliseconds(1796725934000LL + static_cast<long long>(run.realSleeps)));
    };
    environment.columns = columns;
    if (adjust)
        adjust(environment);
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

// The arguments as one line, for the message of a failed case.
inline std::string words(const std::vector<std::string>& arguments) {
    std::string text;
    for (const std::string& a : arguments)
        text += " " + a;
    return text;
}

inline bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// How often part is found in text.
inline std::size_t count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

// The last line of an output, or a text that says there was none: a test
// that finds no output fails on it and goes on with the next case.
inline std::string lastLine(const std::string& text) {
    const std::vector<std::string> lines = linesOf(text);
    return lines.empty() ? std::string("(no output)") : lines.back();
}

inline std::string firstLine(const std::string& text) {
    const std::vector<std::string> lines = linesOf(text);
    return lines.empty() ? std::string("(no output)") : lines.front();
}

#endif
