#include "TrackView.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

namespace Tavex {
namespace Tool {

namespace {

bool isDigitalLetter(char letter) { return letter == 'I' || letter == 'O' || letter == 'N'; }
bool isAnalogLetter(char letter) { return letter == 'A' || letter == 'U'; }

bool isDigital(const IOTrack& track) {
    for (unsigned i = 0; i < track.numberOfPoints(); ++i)
        if (!isDigitalLetter(static_cast<char>(track.pointType(i))))
            return false;
    return true;
}

std::string percentOf(long value) {
    char text[16];
    std::snprintf(text, sizeof text, "%+.0f%%", value / 2147483648.0 * 100.0);
    return text;
}

const char* const colourDown = "\x1b[1;37;41m";       // state 2: white on red
const char* const colourMissing = "\x1b[1;30;43m";    // state 3: black on yellow
const char* const colourOff = "\x1b[0m";

}  // namespace

std::string stateLabel(long state) {
    switch (state) {
    case 0:
        return "ok";
    case 2:
        return "CARD OR NETWORK DOWN";
    case 3:
        return "NOT ANSWERING";
    default:
        return "state " + std::to_string(state);
    }
}

std::string stateText(long state) {
    return "state " + std::to_string(state) + " (" + stateLabel(state) + ")";
}

std::string valueList(const IOTrack& track) {
    std::string text;
    for (unsigned i = 0; i < track.numberOfPoints(); ++i)
        text += (i ? "," : "") + std::to_string(track[i]);
    return text;
}

std::string compactValues(const IOTrack& track, bool percent) {
    std::string text;
    if (isDigital(track)) {
        for (unsigned i = 0; i < track.numberOfPoints(); ++i) {
            if (i && i % 8 == 0)
                text += ' ';
            text += track.pointType(i) == IOTrack::NotUsed ? '.' : track[i] ? '1' : '0';
        }
        return text;
    }
    for (unsigned i = 0; i < track.numberOfPoints(); ++i) {
        const char letter = static_cast<char>(track.pointType(i));
        text += i ? " " : "";
        if (letter == IOTrack::NotUsed)
            text += '-';
        else if (percent && isAnalogLetter(letter))
            text += percentOf(track[i]);
        else
            text += std::to_string(track[i]);
    }
    return text;
}

std::vector<std::string> pointRows(const IOTrack& track) {
    std::size_t width = 1;
    for (unsigned i = 0; i < track.numberOfPoints(); ++i)
        width = std::max(width, std::to_string(track[i]).size());
    std::vector<std::string> rows;
    for (unsigned first = 0; first < track.numberOfPoints(); first += 8) {
        const unsigned last = std::min(first + 8, track.numberOfPoints()) - 1;
        std::ostringstream row;
        const std::string range =
            std::to_string(first) + (last > first ? "-" + std::to_string(last) : "");
        row << "  " << range << std::string(range.size() < 8 ? 8 - range.size() : 1, ' ');
        for (unsigned i = first; i <= last; ++i) {
            const std::string value = std::to_string(track[i]);
            row << (i > first ? "  " : "") << static_cast<char>(track.pointType(i)) << ' '
                << std::string(width - value.size(), ' ') << value;
        }
        rows.push_back(row.str());
    }
    return rows;
}

Screen::Screen(std::ostream& out, bool terminal) : out_(out), terminal_(terminal), lastLines_(0) {}

void Screen::frame(const std::vector<std::string>& lines) {
    if (terminal_ && lastLines_ > 0)
        out_ << "\x1b[" << lastLines_ << 'A';   // back to the first line of the last frame
    for (const std::string& line : lines)
        out_ << (terminal_ ? "\r\x1b[2K" : "") << line << '\n';
    if (terminal_)
        out_ << "\x1b[J";   // whatever the last frame had below this one
    lastLines_ = lines.size();
    out_.flush();
}

std::string Screen::state(long state, std::size_t width) const {
    std::string text = std::to_string(state) + " " + stateLabel(state);
    if (text.size() < width)
        text += std::string(width - text.size(), ' ');
    if (!terminal_ || (state != 2 && state != 3))
        return text;
    return (state == 2 ? colourDown : colourMissing) + text + colourOff;
}

}  // namespace Tool
}  // namespace Tavex
