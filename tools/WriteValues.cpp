#include "WriteValues.h"

#include <algorithm>
#include <cstdlib>

#include "CardArguments.h"
#include "CardFacts.h"

namespace Tavex {
namespace Tool {

namespace {

bool isOutput(char letter) {
    return letter == 'O' || letter == 'U' || letter == 'C' || letter == 'R';
}

// "50%", "-12.5%": a sign, digits, an optional fraction, from -100 to 100.
bool percentValue(const std::string& text, double& percent) {
    if (text.size() < 2 || text.back() != '%')
        return false;
    const std::string number = text.substr(0, text.size() - 1);
    std::size_t i = number[0] == '-' || number[0] == '+' ? 1 : 0;
    std::size_t digits = 0, dots = 0;
    for (std::size_t k = i; k < number.size(); ++k) {
        if (number[k] == '.')
            ++dots;
        else if (number[k] >= '0' && number[k] <= '9')
            ++digits;
        else
            return false;
    }
    if (digits == 0 || dots > 1)
        return false;
    percent = std::strtod(number.c_str(), 0);
    return true;
}

long pointValue(const std::string& text, char letter, unsigned point, const CardFacts& facts) {
    const Encoding& encoding = encodingOf(facts, letter);
    double percent;
    if (percentValue(text, percent)) {
        if (!encoding.fullScale)
            throw UsageError("point " + std::to_string(point) + " (" + letter + "): '" + text +
                             "': only analog points of a card that knows their full scale take "
                             "per cent");
        if (percent < -100 || percent > 100)
            throw UsageError("point " + std::to_string(point) + " (" + letter + "): '" + text +
                             "' is out of range (-100% to 100%)");
        return fromPercent(encoding, percent);
    }
    return parseValue(text);
}

}  // namespace

std::string pointRanges(const std::vector<unsigned>& points) {
    std::string text;
    for (std::size_t i = 0; i < points.size();) {
        std::size_t j = i;
        while (j + 1 < points.size() && points[j + 1] == points[j] + 1)
            ++j;
        text += (text.empty() ? "" : ", ") + std::to_string(points[i]) +
                (j > i ? "-" + std::to_string(points[j]) : "");
        i = j + 1;
    }
    return text;
}

WriteValues parseWriteValues(const std::vector<std::string>& words, const std::string& letters,
                             const CardFacts& facts, const std::vector<std::string>& names,
                             const std::vector<long>* safe) {
    const unsigned n = static_cast<unsigned>(letters.size());
    WriteValues result;
    result.values.assign(n, 0);
    bool pairs = false;
    for (const std::string& word : words)
        pairs = pairs || word.find('=') != std::string::npos;

    if (!pairs) {
        if (words.size() != 1)
            throw UsageError("VALUES is one list separated by commas (1,0,0,1) or POINT=VALUE "
                             "pairs (3=1 5=0)");
        std::vector<std::string> parts;
        for (std::string::size_type from = 0;;) {
            const std::string::size_type comma = words[0].find(',', from);
            parts.push_back(words[0].substr(from, comma == std::string::npos ? comma : comma - from));
            if (comma == std::string::npos)
                break;
            from = comma + 1;
        }
        if (parts.size() != n)
            throw UsageError("VALUES has " + std::to_string(parts.size()) + " values for " +
                             std::to_string(n) + " points");
        for (unsigned i = 0; i < n; ++i)
            result.values[i] = isOutput(letters[i]) ? pointValue(parts[i], letters[i], i, facts)
                                                    : parseValue(parts[i]);
    } else {
        std::vector<bool> named(n, false);
        for (const std::string& word : words) {
            const std::string::size_type equals = word.find('=');
            if (equals == std::string::npos)
                throw UsageError("'" + word + "' is no POINT=VALUE pair; give all values as pairs "
                                 "or one list");
            const std::string key = word.substr(0, equals);
            const std::vector<std::string>::const_iterator name =
                std::find(names.begin(), names.end(), key);
            if (name == names.end() && !names.empty() && !key.empty() &&
                (key[0] < '0' || key[0] > '9')) {
                std::string known;
                for (const std::string& n : names)
                    known += (known.empty() ? "" : ", ") + n;
                throw UsageError("no point named '" + key + "'; the points are " + known);
            }
            const std::uint32_t point =
                name != names.end() ? static_cast<std::uint32_t>(name - names.begin())
                                    : parseUnsigned(key, 0xFFFFFFFFu, "point");
            if (point >= n)
                throw UsageError("point " + std::to_string(point) + " is not in the track (points 0 to " +
                                 std::to_string(n - 1) + ")");
            const char letter = letters[point];
            if (!isOutput(letter))
                throw UsageError("point " + std::to_string(point) + " (" + letter +
                                 ") is no output: write sets O, U, C and R points");
            if (named[point])
                throw UsageError("point " + std::to_string(point) + " is named twice");
            named[point] = true;
            result.values[point] = pointValue(word.substr(equals + 1), letter, point, facts);
        }
        for (unsigned i = 0; i < n; ++i)
            if (isOutput(letters[i]) && !named[i]) {
                result.unnamed.push_back(i);
                if (safe && i < safe->size())
                    result.values[i] = (*safe)[i];
            }
    }

    std::string misfits;
    for (unsigned i = 0; i < n; ++i) {
        if (!isOutput(letters[i]))
            continue;
        const std::string misfit = valueMisfit(facts, letters[i], i, result.values[i]);
        if (!misfit.empty())
            misfits += (misfits.empty() ? "" : "\n") + misfit;
    }
    if (!misfits.empty())
        throw UsageError(misfits + "\nnothing written");
    return result;
}

}  // namespace Tool
}  // namespace Tavex
