// Reading the plant file.  The only file that sees toml++: header-only
// here, so that neither the public headers nor the programs need it.
#include "tavex/plant/Plant.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>

#define TOML_HEADER_ONLY 1
#define TOML_ENABLE_FORMATTERS 0
#include <toml++/toml.h>

namespace Tavex {

struct PlantDocument {
    std::string file;
    toml::table root;
};

namespace {

const unsigned long defaultPeriod = 100000;          // us
const long long longestPeriod = 3600LL * 1000000;    // us
const long long smallestValue = -2147483647LL - 1;
const long long largestValue = 2147483647LL;

std::string quoted(const std::string& text) { return "'" + text + "'"; }

[[noreturn]] void failAt(const std::string& file, const toml::source_region& where,
                         const std::string& message) {
    throw PlantError(file, where.begin.line, where.begin.column, message);
}

std::string typeName(const toml::node& node) {
    switch (node.type()) {
    case toml::node_type::table: return "a table";
    case toml::node_type::array: return "an array";
    case toml::node_type::string: return "a string";
    case toml::node_type::integer: return "an integer";
    case toml::node_type::floating_point: return "a floating-point number";
    case toml::node_type::boolean: return "a boolean";
    default: return "a date or time";
    }
}

// "expected a string (CARD) for 'card', found an integer"
[[noreturn]] void wrongType(const std::string& file, const toml::node& node,
                            const std::string& key, const std::string& expected) {
    failAt(file, node.source(),
           "expected " + expected + " for " + quoted(key) + ", found " + typeName(node));
}

struct Entry {
    const toml::key* key;
    const toml::node* node;
};

// A table's entries in the order of the file (toml++ keeps them sorted by key).
std::vector<Entry> inFileOrder(const toml::table& table) {
    std::vector<Entry> entries;
    for (auto&& [key, node] : table)
        entries.push_back(Entry{&key, &node});
    std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        const toml::source_position& x = a.key->source().begin;
        const toml::source_position& y = b.key->source().begin;
        return x.line != y.line ? x.line < y.line : x.column < y.column;
    });
    return entries;
}

std::string keyName(const Entry& entry) { return std::string(entry.key->str()); }

const toml::table& asTable(const std::string& file, const Entry& entry, const std::string& what) {
    const toml::table* table = entry.node->as_table();
    if (!table)
        wrongType(file, *entry.node, keyName(entry), what);
    return *table;
}

// period = "10ms" | "500us" | "1s" | microseconds
unsigned long readPeriod(const std::string& file, const toml::node& node) {
    const std::string expected =
        "expected the scan period as \"500us\", \"10ms\", \"1s\" or an integer of microseconds";
    long long us = 0;
    if (const toml::value<std::int64_t>* integer = node.as_integer()) {
        us = integer->get();
    } else if (const toml::value<std::string>* string = node.as_string()) {
        const std::string& text = string->get();
        const std::size_t digits = text.find_first_not_of("0123456789");
        const std::string unit = digits == std::string::npos ? "" : text.substr(digits);
        const long long scale = unit == "us" ? 1 : unit == "ms" ? 1000 : unit == "s" ? 1000000 : 0;
        if (digits == 0 || digits == std::string::npos || scale == 0 || digits > 12)
            failAt(file, node.source(), expected + ", found " + quoted(text));
        us = std::stoll(text.substr(0, digits)) * scale;
    } else {
        failAt(file, node.source(), expected + ", found " + typeName(node));
    }
    if (us < 1 || us > longestPeriod)
        failAt(file, node.source(), "the scan period must be 1 us to 3600 s");
    return static_cast<unsigned long>(us);
}

std::string letterName(char letter) {
    switch (letter) {
    case IOTrack::DigitalInput: return "a digital input";
    case IOTrack::DigitalOutput: return "a digital output";
    case IOTrack::AnalogInput: return "an analog input";
    case IOTrack::AnalogOutput: return "an analog output";
    case IOTrack::Counter: return "a counter";
    case IOTrack::ReverseCounter: return "a reverse counter";
    default: return "not used";
    }
}

// The point of a track that a safe value is given for.  fromList: a list
// by position, where points other than outputs hold a 0.
long safeValue(const std::string& file, const PlantTrack& track, std::size_t point,
               const toml::node& node, bool fromList) {
    const char letter = track.arguments.letters[point];
    const std::string which = "point " + std::to_string(point) +
                              (point < track.points.size() ? " (" + track.points[point] + ")" : "");
    const toml::value<std::int64_t>* integer = node.as_integer();
    if (!integer)
        failAt(file, node.source(),
               "expected an integer as the safe value of " + which + ", found " + typeName(node));
    const long long value = integer->get();
    if (letter == IOTrack::DigitalOutput) {
        if (value != 0 && value != 1)
            failAt(file, node.source(),
                   "the safe value of " + which + ", a digital output, must be 0 or 1");
    } else if (letter == IOTrack::AnalogOutput) {
        if (value < smallestValue || value > largestValue)
            failAt(file, node.source(),
                   "the safe value of " + which +
                       ", an analog output, must be within -2147483648 to 2147483647");
    } else if (!fromList || value != 0) {
        failAt(file, node.source(),
               which + " is " + letterName(letter) + ": only outputs take a safe value" +
                   (fromList ? " (0 holds its place in the list)" : ""));
    }
    return static_cast<long>(value);
}

PlantCard readCard(const std::string& file, const Entry& entry) {
    const toml::table& table = asTable(file, entry, "a table of a card");
    PlantCard card;
    card.name = keyName(entry);
    const toml::node* text = nullptr;
    for (const Entry& field : inFileOrder(table)) {
        if (keyName(field) != "card")
            failAt(file, field.key->source(),
                   "unknown key " + quoted(keyName(field)) + " in card " + quoted(card.name) +
                       " (a card has only card = \"CARD\")");
        text = field.node;
    }
    if (!text)
        failAt(file, table.source(), "card " + quoted(card.name) + " needs card = \"CARD\"");
    if (!text->is_string())
        wrongType(file, *text, "card", "a string (CARD)");
    try {
        card.arguments = parseCard(text->as_string()->get());
    } catch (const CardStringError& e) {
        failAt(file, text->source(), e.what());
    }
    return card;
}

void readPoints(const std::string& file, PlantTrack& track, const toml::node& node) {
    const toml::array* names = node.as_array();
    if (!names)
        wrongType(file, node, "points", "an array of point names");
    for (const toml::node& name : *names) {
        if (track.points.size() == track.numberOfPoints())
            failAt(file, name.source(),
                   "more point names than the track's " + std::to_string(track.numberOfPoints()) +
                       " points");
        const toml::value<std::string>* text = name.as_string();
        if (!text)
            failAt(file, name.source(), "expected a point name (a string), found " + typeName(name));
        if (text->get().empty())
            failAt(file, name.source(), "a point name is not empty");
        const long twice = track.pointIndex(text->get());
        if (twice >= 0)
            failAt(file, name.source(),
                   "point name " + quoted(text->get()) + " is given twice (also point " +
                       std::to_string(twice) + ")");
        track.points.push_back(text->get());
    }
}

void readSafe(const std::string& file, PlantTrack& track, const toml::node& node) {
    track.safeGiven = true;
    if (const toml::array* list = node.as_array()) {
        std::size_t point = 0;
        for (const toml::node& value : *list) {
            if (point == track.numberOfPoints())
                failAt(file, value.source(),
                       "more safe values than the track's " +
                           std::to_string(track.numberOfPoints()) + " points");
            track.safe[point] = safeValue(file, track, point, value, true);
            ++point;
        }
    } else if (const toml::table* byName = node.as_table()) {
        for (const Entry& entry : inFileOrder(*byName)) {
            const long point = track.pointIndex(keyName(entry));
            if (point < 0)
                failAt(file, entry.key->source(),
                       "track " + quoted(track.name) + " has no point named " +
                           quoted(keyName(entry)) + " (its names are given by points = [...])");
            track.safe[static_cast<std::size_t>(point)] =
                safeValue(file, track, static_cast<std::size_t>(point), *entry.node, false);
        }
    } else {
        wrongType(file, node, "safe",
                  "an array of safe values or a table of them by point name");
    }
}

PlantTrack readTrack(const std::string& file, const Entry& entry,
                     const std::vector<PlantCard>& cards) {
    const toml::table& table = asTable(file, entry, "a table of a track");
    PlantTrack track;
    track.name = keyName(entry);
    track.safeGiven = false;
    const toml::node* card = table.get("card");
    const toml::node* text = table.get("track");
    for (const Entry& field : inFileOrder(table)) {
        const std::string key = keyName(field);
        if (key != "card" && key != "track" && key != "points" && key != "safe")
            failAt(file, field.key->source(),
                   "unknown key " + quoted(key) + " in track " + quoted(track.name) +
                       " (a track has card, track, points and safe)");
    }
    if (!card || !text)
        failAt(file, table.source(),
               "track " + quoted(track.name) + " needs " +
                   (!card ? "card = \"NAME\" (a card of [cards])" : "track = \"START:LETTERS\""));

    if (!card->is_string())
        wrongType(file, *card, "card", "a string (the name of a card)");
    track.card = card->as_string()->get();
    if (std::none_of(cards.begin(), cards.end(),
                     [&](const PlantCard& c) { return c.name == track.card; })) {
        std::string known;
        for (const PlantCard& c : cards)
            known += (known.empty() ? "" : ", ") + c.name;
        failAt(file, card->source(),
               "no card named " + quoted(track.card) +
                   (known.empty() ? std::string(" (the file has no cards)")
                                  : "; the cards are " + known));
    }

    if (!text->is_string())
        wrongType(file, *text, "track", "a string (START:LETTERS)");
    track.text = text->as_string()->get();
    try {
        track.arguments = parseTrack(track.text);
    } catch (const CardStringError& e) {
        failAt(file, text->source(), e.what());
    }
    const std::string& letters = track.arguments.letters;
    if (letters.empty())
        failAt(file, text->source(), "track " + quoted(track.text) + " has no points");
    track.safe.assign(letters.size(), 0);

    if (const toml::node* points = table.get("points"))
        readPoints(file, track, *points);
    if (const toml::node* safe = table.get("safe"))
        readSafe(file, track, *safe);
    return track;
}

const toml::node* findNode(const void* table, const std::string& key) {
    return table ? static_cast<const toml::table*>(table)->get(key) : nullptr;
}

}  // namespace

// ---- PlantError -------------------------------------------------------------

namespace {
std::string located(const std::string& file, unsigned long line, unsigned long column,
                    const std::string& message) {
    if (line == 0)
        return file + ": " + message;
    return file + ":" + std::to_string(line) + ":" + std::to_string(column) + ": " + message;
}
}  // namespace

PlantError::PlantError(const std::string& file, unsigned long line, unsigned long column,
                       const std::string& message)
    : std::runtime_error(located(file, line, column, message)), file_(file), line_(line),
      column_(column), message_(message) {}

// ---- Plant ------------------------------------------------------------------

Plant::Plant() : period_(defaultPeriod) {}

Plant Plant::load(const std::string& path, const std::vector<std::string>& frontEndTables) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        throw PlantError(path, 0, 0,
                         std::string("cannot open the plant file: ") + std::strerror(errno));
    std::string text;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
        text.append(buffer, n);
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed)
        throw PlantError(path, 0, 0, "cannot read the plant file");
    return parse(text, path, frontEndTables);
}

Plant Plant::parse(const std::string& text, const std::string& file,
                   const std::vector<std::string>& frontEndTables) {
    std::shared_ptr<PlantDocument> document = std::make_shared<PlantDocument>();
    document->file = file;
    try {
        document->root = toml::parse(text, file);
    } catch (const toml::parse_error& e) {
        throw PlantError(file, e.source().begin.line, e.source().begin.column,
                         std::string(e.description()));
    }

    Plant plant;
    plant.document_ = document;
    plant.frontEndTables_ = frontEndTables;
    plant.file_ = file;
    const toml::table* cards = nullptr;
    const toml::table* tracks = nullptr;
    for (const Entry& entry : inFileOrder(document->root)) {
        const std::string key = keyName(entry);
        if (key == "period") {
            plant.period_ = readPeriod(file, *entry.node);
        } else if (key == "cards") {
            cards = &asTable(file, entry, "a table of cards ([cards.NAME])");
        } else if (key == "tracks") {
            tracks = &asTable(file, entry, "a table of tracks ([tracks.NAME])");
        } else if (std::find(frontEndTables.begin(), frontEndTables.end(), key) !=
                   frontEndTables.end()) {
            asTable(file, entry, "a table");
        } else {
            std::string known = "period, [cards], [tracks]";
            for (const std::string& name : frontEndTables)
                known += ", [" + name + "]";
            failAt(file, entry.key->source(),
                   "unknown key " + quoted(key) + " (a plant file has " + known + ")");
        }
    }
    if (cards)
        for (const Entry& entry : inFileOrder(*cards))
            plant.cards_.push_back(readCard(file, entry));
    if (tracks)
        for (const Entry& entry : inFileOrder(*tracks))
            plant.tracks_.push_back(readTrack(file, entry, plant.cards_));
    return plant;
}

const PlantCard* Plant::findCard(const std::string& name) const {
    for (const PlantCard& card : cards_)
        if (card.name == name)
            return &card;
    return nullptr;
}

const PlantTrack* Plant::findTrack(const std::string& name) const {
    for (const PlantTrack& track : tracks_)
        if (track.name == name)
            return &track;
    return nullptr;
}

bool Plant::hasTable(const std::string& name) const {
    return table(name).table_ != nullptr;
}

PlantTable Plant::table(const std::string& name) const {
    if (std::find(frontEndTables_.begin(), frontEndTables_.end(), name) == frontEndTables_.end())
        throw std::logic_error("Plant: table [" + name + "] was not asked for when the file was read");
    const toml::node* node = document_->root.get(name);
    return PlantTable(document_, node ? node->as_table() : nullptr, name);
}

long PlantTrack::pointIndex(const std::string& point) const {
    for (std::size_t i = 0; i < points.size(); ++i)
        if (points[i] == point)
            return static_cast<long>(i);
    return -1;
}

// ---- PlantTable ---------------------------------------------------------------

PlantTable::PlantTable(std::shared_ptr<const PlantDocument> document, const void* table,
                       const std::string& name)
    : document_(std::move(document)), table_(table), name_(name) {}

bool PlantTable::has(const std::string& key) const { return findNode(table_, key) != nullptr; }

std::vector<std::string> PlantTable::keys() const {
    std::vector<std::string> keys;
    if (table_)
        for (const Entry& entry : inFileOrder(*static_cast<const toml::table*>(table_)))
            keys.push_back(keyName(entry));
    return keys;
}

bool PlantTable::isTable(const std::string& key) const {
    const toml::node* node = findNode(table_, key);
    return node && node->is_table();
}

void PlantTable::fail(const std::string& key, const std::string& message) const {
    if (const toml::node* node = findNode(table_, key))
        failAt(document_->file, node->source(), message);
    fail(message);
}

void PlantTable::fail(const std::string& message) const {
    if (table_)
        failAt(document_->file, static_cast<const toml::table*>(table_)->source(), message);
    // A table the file does not have: the file as a whole is at fault.
    throw PlantError(document_->file, 0, 0, message);
}

namespace {

const toml::node& required(const PlantTable& table, const void* tomlTable, const std::string& key,
                           const std::string& expected) {
    const toml::node* node = findNode(tomlTable, key);
    if (!node)
        table.fail("[" + table.name() + "] needs " + quoted(key) + ", " + expected);
    return *node;
}

}  // namespace

std::string PlantTable::getString(const std::string& key) const {
    const toml::node& node = required(*this, table_, key, "a string");
    if (!node.is_string())
        wrongType(document_->file, node, key, "a string");
    return node.as_string()->get();
}

std::string PlantTable::getString(const std::string& key, const std::string& otherwise) const {
    return has(key) ? getString(key) : otherwise;
}

long long PlantTable::getInteger(const std::string& key, long long min, long long max) const {
    const std::string range = std::to_string(min) + " to " + std::to_string(max);
    const toml::node& node = required(*this, table_, key, "an integer from " + range);
    if (!node.is_integer())
        wrongType(document_->file, node, key, "an integer");
    const long long value = node.as_integer()->get();
    if (value < min || value > max)
        failAt(document_->file, node.source(),
               quoted(key) + " is " + std::to_string(value) + ", not within " + range);
    return value;
}

long long PlantTable::getInteger(const std::string& key, long long min, long long max,
                                 long long otherwise) const {
    return has(key) ? getInteger(key, min, max) : otherwise;
}

bool PlantTable::getBool(const std::string& key) const {
    const toml::node& node = required(*this, table_, key, "true or false");
    if (!node.is_boolean())
        wrongType(document_->file, node, key, "true or false");
    return node.as_boolean()->get();
}

bool PlantTable::getBool(const std::string& key, bool otherwise) const {
    return has(key) ? getBool(key) : otherwise;
}

std::vector<std::string> PlantTable::getStringArray(const std::string& key) const {
    const toml::node& node = required(*this, table_, key, "an array of strings");
    const toml::array* array = node.as_array();
    if (!array)
        wrongType(document_->file, node, key, "an array of strings");
    std::vector<std::string> strings;
    for (const toml::node& element : *array) {
        if (!element.is_string())
            failAt(document_->file, element.source(),
                   "expected a string in " + quoted(key) + ", found " + typeName(element));
        strings.push_back(element.as_string()->get());
    }
    return strings;
}

std::vector<std::string> PlantTable::getStringArray(
    const std::string& key, const std::vector<std::string>& otherwise) const {
    return has(key) ? getStringArray(key) : otherwise;
}

PlantTable PlantTable::subtable(const std::string& key) const {
    const toml::node& node = required(*this, table_, key, "a table");
    if (!node.is_table())
        wrongType(document_->file, node, key, "a table");
    return PlantTable(document_, node.as_table(), name_ + "." + key);
}

}  // namespace Tavex
