#include "TrackView.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "CardFacts.h"

namespace Tavex {
namespace Tool {

namespace {

// Not 0 or 1, and no multiple of 0x10000: no digital or analog read gives it.
const long notRead = 0x5A5A5A5AL;

bool isDigitalLetter(char letter) { return letter == 'I' || letter == 'O' || letter == 'N'; }
bool isAnalogLetter(char letter) { return letter == 'A' || letter == 'U'; }
bool isOutputLetter(char letter) { return letter == 'O' || letter == 'U'; }

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

// Whether point i is shown in per cent of full scale too.
bool showsPercent(const Reading& reading, const ViewOptions& view, unsigned i) {
    return !view.raw && view.facts && reading.known[i] &&
           encodingOf(*view.facts, reading.letters[i]).fullScale;
}

std::string valueText(const Reading& reading, unsigned i) {
    return reading.known[i] ? std::to_string(reading.values[i]) : std::string("-");
}

std::string padLeft(const std::string& text, std::size_t width) {
    return text.size() < width ? std::string(width - text.size(), ' ') + text : text;
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

void markOutputs(IOTrack& track) {
    for (unsigned i = 0; i < track.numberOfPoints(); ++i)
        if (isOutputLetter(static_cast<char>(track.pointType(i))))
            track[i] = notRead;
}

bool Reading::anyUnknown() const {
    return std::find(known.begin(), known.end(), false) != known.end();
}

Reading readingOf(const IOTrack& track) {
    Reading reading;
    reading.state = track.trackState();
    for (unsigned i = 0; i < track.numberOfPoints(); ++i) {
        const char letter = static_cast<char>(track.pointType(i));
        reading.letters += letter;
        reading.values.push_back(track[i]);
        reading.known.push_back(!(isOutputLetter(letter) && track[i] == notRead));
    }
    return reading;
}

std::string valueList(const Reading& reading) {
    std::string text;
    for (unsigned i = 0; i < reading.values.size(); ++i)
        text += (i ? "," : "") + valueText(reading, i);
    return text;
}

std::string percentList(const Reading& reading, const ViewOptions& view) {
    std::string text;
    bool any = false;
    for (unsigned i = 0; i < reading.values.size(); ++i) {
        const bool shown = showsPercent(reading, view, i);
        any = any || shown;
        text += (i ? "," : "") + (shown ? percentText(reading.values[i]) : std::string("-"));
    }
    return any ? text : std::string();
}

std::vector<std::string> pointRows(const Reading& reading, const ViewOptions& view) {
    const unsigned n = static_cast<unsigned>(reading.values.size());
    std::size_t width = 1, percentWidth = 0;
    for (unsigned i = 0; i < n; ++i) {
        width = std::max(width, valueText(reading, i).size());
        if (showsPercent(reading, view, i))
            percentWidth = std::max(percentWidth, percentText(reading.values[i]).size());
    }
    // "  " + label of 8 + cells of "L value percent" two blanks apart.
    const std::size_t cell = 2 + width + (percentWidth ? 1 + percentWidth : 0);
    unsigned perRow = 8;
    while (perRow > 1 && 10 + perRow * cell + (perRow - 1) * 2 > view.columns)
        perRow /= 2;

    std::vector<std::string> rows;
    for (unsigned first = 0; first < n; first += perRow) {
        const unsigned last = std::min(first + perRow, n) - 1;
        std::ostringstream row;
        const std::string range =
            std::to_string(first) + (last > first ? "-" + std::to_string(last) : "");
        row << "  " << range << std::string(range.size() < 8 ? 8 - range.size() : 1, ' ');
        for (unsigned i = first; i <= last; ++i) {
            row << (i > first ? "  " : "") << reading.letters[i] << ' '
                << padLeft(valueText(reading, i), width);
            if (percentWidth)
                row << ' '
                    << padLeft(showsPercent(reading, view, i) ? percentText(reading.values[i]) : "",
                               percentWidth);
        }
        std::string text = row.str();
        text.erase(text.find_last_not_of(' ') + 1);
        rows.push_back(text);
    }
    return rows;
}

std::string notReadBackNote(const Reading& reading) {
    return reading.anyUnknown() ? "-: an output that this board does not read back" : "";
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

std::size_t visibleLength(const std::string& line) {
    std::size_t length = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\x1b' && i + 1 < line.size() && line[i + 1] == '[') {
            i += 2;
            while (i < line.size() && !(line[i] >= '@' && line[i] <= '~'))
                ++i;
            continue;
        }
        // A UTF-8 continuation byte adds no character.
        if ((static_cast<unsigned char>(line[i]) & 0xC0) != 0x80)
            ++length;
    }
    return length;
}

Screen::Screen(std::ostream& out, bool terminal, bool colour, unsigned columns)
    : out_(out), terminal_(terminal), colour_(colour), columns_(columns ? columns : 80),
      lastLines_(0) {}

void Screen::frame(const std::vector<std::string>& lines) {
    if (terminal_ && lastLines_ > 0)
        out_ << "\x1b[" << lastLines_ << 'A';   // back to the first line of the last frame
    std::size_t shown = 0;
    for (const std::string& line : lines) {
        out_ << (terminal_ ? "\r\x1b[2K" : "") << line << '\n';
        // A line wider than the terminal takes more than one of its lines.
        shown += std::max<std::size_t>(1, (visibleLength(line) + columns_ - 1) / columns_);
    }
    if (terminal_)
        out_ << "\x1b[J";   // whatever the last frame had below this one
    lastLines_ = shown;
    out_.flush();
}

std::string Screen::state(long state, std::size_t width) const {
    std::string text = std::to_string(state) + " " + stateLabel(state);
    if (text.size() < width)
        text += std::string(width - text.size(), ' ');
    if (!colour_ || (state != 2 && state != 3))
        return text;
    return (state == 2 ? colourDown : colourMissing) + text + colourOff;
}

}  // namespace Tool
}  // namespace Tavex
