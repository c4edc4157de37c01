// The few pieces of JSON the tool writes: quoted strings and numbers.
#ifndef TAVEX_TOOLS_JSON_H
#define TAVEX_TOOLS_JSON_H

#include <cstdio>
#include <string>

namespace Tavex {
namespace Tool {

inline std::string jsonString(const std::string& text) {
    std::string quoted = "\"";
    for (char c : text) {
        switch (c) {
        case '"': quoted += "\\\""; break;
        case '\\': quoted += "\\\\"; break;
        case '\n': quoted += "\\n"; break;
        case '\t': quoted += "\\t"; break;
        case '\r': quoted += "\\r"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
                quoted += escape;
            } else {
                quoted += c;
            }
        }
    }
    return quoted + "\"";
}

// A number with the fraction digits given, never in exponent form.
inline std::string jsonNumber(double value, int digits) {
    char text[48];
    std::snprintf(text, sizeof text, "%.*f", digits, value);
    return text;
}

}  // namespace Tool
}  // namespace Tavex

#endif
