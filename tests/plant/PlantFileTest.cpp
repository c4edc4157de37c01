// Reading plant files: what a good file gives, where a bad one is wrong,
// and the tables a front end reads for itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/ExpectThrow.h"
#include "support/TempDir.h"
#include "tavex/plant/Plant.h"

using Tavex::Plant;
using Tavex::PlantError;
using Tavex::PlantTable;

namespace {

// The error of parsing text as "plant.toml", or "" when it parses.
std::string errorOf(const std::string& text,
                    const std::vector<std::string>& frontEnd = std::vector<std::string>()) {
    try {
        Plant::parse(text, "plant.toml", frontEnd);
    } catch (const PlantError& e) {
        return e.what();
    }
    return "";
}

// "plant.toml:LINE:COL: " for the first place where at stands in text.
std::string positionOf(const std::string& text, const std::string& at) {
    const std::string::size_type offset = text.find(at);
    if (offset == std::string::npos)
        return "(" + at + " is not in the text)";
    const std::string::size_type lineStart =
        offset == 0 ? std::string::npos : text.rfind('\n', offset - 1);
    const std::size_t line = 1 + static_cast<std::size_t>(
                                     std::count(text.begin(), text.begin() + offset, '\n'));
    const std::size_t column = offset - (lineStart == std::string::npos ? 0 : lineStart + 1) + 1;
    return "plant.toml:" + std::to_string(line) + ":" + std::to_string(column) + ": ";
}

const std::string lineCard = "[cards.line]\ncard = \"ac5:0x300\"\n";

}  // namespace

TEST(PlantFile, ReadsCardsTracksPointsSafeValuesInFileOrder) {
    const Plant plant = Plant::parse("period = \"10ms\"\n"
                                     "[cards.zeta]\ncard = \"ac5:0x300\"\n"
                                     "[cards.alpha]\ncard = \"ktx:0xC8000,/opt/rio,x/,0xFE\"\n"
                                     "[tracks.motors]\ncard = \"zeta\"\ntrack = \"1:OOOOOOOO\"\n"
                                     "points = [\"conveyor\", \"valve\"]\n"
                                     "safe = { valve = 1 }\n"
                                     "[tracks.eyes]\ncard = \"zeta\"\ntrack = \"0:IIIIOOOO\"\n"
                                     "safe = [0, 0, 0, 0, 1, 0, 1]\n"
                                     "[tracks.levels]\ncard = \"alpha\"\ntrack = \"0x10:UA\"\n"
                                     "safe = [-2147483648]\n",
                                     "plant.toml");
    EXPECT_EQ(10000ul, plant.period());
    ASSERT_EQ(2u, plant.cards().size());
    EXPECT_EQ("zeta", plant.cards()[0].name);
    EXPECT_EQ(Tavex::CardArguments::AC5, plant.cards()[0].arguments.kind);
    EXPECT_EQ("alpha", plant.cards()[1].name);
    EXPECT_EQ("/opt/rio,x/", plant.cards()[1].arguments.path);

    ASSERT_EQ(3u, plant.tracks().size());
    const Tavex::PlantTrack& motors = plant.tracks()[0];
    EXPECT_EQ("motors", motors.name);
    EXPECT_EQ("zeta", motors.card);
    EXPECT_EQ(1u, motors.arguments.start);
    EXPECT_EQ((std::vector<std::string>{"conveyor", "valve"}), motors.points);
    EXPECT_EQ((std::vector<long>{0, 1, 0, 0, 0, 0, 0, 0}), motors.safe);
    EXPECT_TRUE(motors.safeGiven);
    EXPECT_EQ(1, motors.pointIndex("valve"));
    EXPECT_EQ(-1, motors.pointIndex("lamp"));

    EXPECT_EQ("eyes", plant.tracks()[1].name);
    EXPECT_EQ((std::vector<long>{0, 0, 0, 0, 1, 0, 1, 0}), plant.tracks()[1].safe);
    EXPECT_EQ(0x10u, plant.tracks()[2].arguments.start);
    EXPECT_EQ((std::vector<long>{-2147483647L - 1, 0}), plant.tracks()[2].safe);

    EXPECT_EQ(&plant.tracks()[1], plant.findTrack("eyes"));
    EXPECT_EQ(nullptr, plant.findTrack("zeta"));
    EXPECT_EQ(&plant.cards()[1], plant.findCard("alpha"));
}

TEST(PlantFile, ScanPeriodInItsUnits) {
    const struct {
        const char* line;
        unsigned long us;
    } cases[] = {
        {"", 100000},        {"period = \"500us\"", 500},  {"period = \"10ms\"", 10000},
        {"period = \"1s\"", 1000000}, {"period = 250", 250},  {"period = \"3600s\"", 3600000000ul},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.us, Plant::parse(std::string(c.line) + "\n", "plant.toml").period()) << c.line;
}

// Each bad file names the place of the offending value or key and what was
// expected there.
TEST(PlantFile, ErrorsPointAtTheOffendingValue) {
    const std::string tracks = lineCard + "[tracks.t]\ncard = \"line\"\n";
    const struct {
        std::string text;
        std::string at;        // the error is where this first stands in text
        std::string message;   // "" for toml++'s own syntax errors: any text
    } cases[] = {
        // the file's syntax: toml++'s own words, at its place
        {"period = \"10ms\n", "\n", ""},   // toml++ finds the string open at the line's end
        {lineCard + "[cards.line]\ncard = \"dummy\"\n", "[cards.line]\ncard = \"dummy", ""},
        // the top level
        {"[gateway]\nunit = 1\n", "gateway",
         "unknown key 'gateway' (a plant file has period, [cards], [tracks])"},
        {"perod = 5\n", "perod", "unknown key 'perod' (a plant file has period, [cards], [tracks])"},
        {"period = \"10 ms\"\n", "\"10 ms",
         "expected the scan period as \"500us\", \"10ms\", \"1s\" or an integer of microseconds, "
         "found '10 ms'"},
        {"period = \"ms\"\n", "\"ms",
         "expected the scan period as \"500us\", \"10ms\", \"1s\" or an integer of microseconds, "
         "found 'ms'"},
        {"period = 1.5\n", "1.5",
         "expected the scan period as \"500us\", \"10ms\", \"1s\" or an integer of microseconds, "
         "found a floating-point number"},
        {"period = 0\n", "0", "the scan period must be 1 us to 3600 s"},
        {"period = \"3601s\"\n", "\"3601s", "the scan period must be 1 us to 3600 s"},
        {"period = \"99999999999999s\"\n", "\"9",
         "expected the scan period as \"500us\", \"10ms\", \"1s\" or an integer of microseconds, "
         "found '99999999999999s'"},
        {"cards = 3\n", "3", "expected a table of cards ([cards.NAME]) for 'cards', found an integer"},
        // cards
        {"[cards]\nline = \"ac5:0x300\"\n", "\"ac5",
         "expected a table of a card for 'line', found a string"},
        {"[cards.line]\nport = 0x300\n", "port",
         "unknown key 'port' in card 'line' (a card has only card = \"CARD\")"},
        {"period = 5\n[cards.line]\n", "[cards.line]", "card 'line' needs card = \"CARD\""},
        {"[cards.line]\ncard = 0x300\n", "0x300",
         "expected a string (CARD) for 'card', found an integer"},
        {"[cards.line]\ncard = \"ac5:300x\"\n", "\"ac5:300x",
         "base port '300x' is not a number (decimal or 0x hex)"},
        {"[cards.line]\ncard = \"ac28:0x100,0xE0,2\"\n", "\"ac28",
         "reset level '2' is neither 0 nor 1"},
        // tracks: the card, the TRACK string
        {tracks, "[tracks.t]", "track 't' needs track = \"START:LETTERS\""},
        {lineCard + "[tracks.t]\ntrack = \"0:I\"\n", "[tracks.t]",
         "track 't' needs card = \"NAME\" (a card of [cards])"},
        {lineCard + "[tracks.t]\ncard = \"lime\"\ntrack = \"0:I\"\n", "\"lime",
         "no card named 'lime'; the cards are line"},
        {"[tracks.t]\ncard = \"line\"\ntrack = \"0:I\"\n", "\"line\"",
         "no card named 'line' (the file has no cards)"},
        {tracks + "track = \"IIII\"\n", "\"IIII", "track 'IIII' has no ':' (TRACK is START:LETTERS)"},
        {tracks + "track = \"0x1G:I\"\n", "\"0x1G",
         "starting point '0x1G' is not a number (decimal or 0x hex)"},
        {tracks + "track = \"0:\"\n", "\"0:", "track '0:' has no points"},
        {tracks + "track = \"0:IIXI\"\n", "\"0:IIXI",
         "point 2 of track '0:IIXI' is 'X', none of I O A U C R N"},
        {tracks + "track = \"0:I\"\nponts = [\"a\"]\n", "ponts",
         "unknown key 'ponts' in track 't' (a track has card, track, points and safe)"},
        {"[tracks]\nt = 1\n", "1", "expected a table of a track for 't', found an integer"},
        // point names
        {tracks + "track = \"0:II\"\npoints = [\"a\", \"b\", \"c\"]\n", "\"c",
         "more point names than the track's 2 points"},
        {tracks + "track = \"0:III\"\npoints = [\"a\", \"b\", \"a\"]\n", "\"a\"]",
         "point name 'a' is given twice (also point 0)"},
        {tracks + "track = \"0:II\"\npoints = [\"a\", 2]\n", "2]",
         "expected a point name (a string), found an integer"},
        {tracks + "track = \"0:II\"\npoints = [\"\"]\n", "\"\"]", "a point name is not empty"},
        {tracks + "track = \"0:II\"\npoints = \"a\"\n", "\"a\"",
         "expected an array of point names for 'points', found a string"},
        // safe values
        {tracks + "track = \"0:IIOO\"\nsafe = [0, 0, 1, 2]\n", "2]",
         "the safe value of point 3, a digital output, must be 0 or 1"},
        {tracks + "track = \"0:IIOO\"\npoints = [\"a\", \"b\", \"c\", \"d\"]\nsafe = [0, 0, 1, -1]\n",
         "-1", "the safe value of point 3 (d), a digital output, must be 0 or 1"},
        {tracks + "track = \"0:IIOO\"\nsafe = [1]\n", "1]",
         "point 0 is a digital input: only outputs take a safe value (0 holds its place in the list)"},
        {tracks + "track = \"0:IO\"\npoints = [\"eye\", \"motor\"]\nsafe = { eye = 0 }\n", "0 }",
         "point 0 (eye) is a digital input: only outputs take a safe value"},
        {tracks + "track = \"0:CO\"\npoints = [\"count\"]\nsafe = { count = 5 }\n", "5 }",
         "point 0 (count) is a counter: only outputs take a safe value"},
        {tracks + "track = \"0:IO\"\npoints = [\"eye\", \"motor\"]\nsafe = { motr = 0 }\n", "motr",
         "track 't' has no point named 'motr' (its names are given by points = [...])"},
        {tracks + "track = \"0:OO\"\nsafe = [0, 0, 0]\n", "0]",
         "more safe values than the track's 2 points"},
        {tracks + "track = \"0:UU\"\nsafe = [0, 2147483648]\n", "2147483648",
         "the safe value of point 1, an analog output, must be within -2147483648 to 2147483647"},
        {tracks + "track = \"0:OO\"\nsafe = [true]\n", "true",
         "expected an integer as the safe value of point 0, found a boolean"},
        {tracks + "track = \"0:OO\"\nsafe = \"off\"\n", "\"off",
         "expected an array of safe values or a table of them by point name for 'safe', found a "
         "string"},
    };
    for (const auto& c : cases) {
        const std::string error = errorOf(c.text);
        const std::string where = positionOf(c.text, c.at);
        EXPECT_EQ(0u, error.find(where)) << c.text << "\n error: " << error << "\n expected at "
                                         << where;
        if (!c.message.empty())
            EXPECT_EQ(where + c.message, error) << c.text;
        else
            EXPECT_LT(where.size(), error.size()) << c.text;
    }
}

TEST(PlantFile, ErrorCarriesItsParts) {
    try {
        Plant::parse("\n\n[cards.x]\ncard = \"ac5\"\n", "dir/a plant.toml");
        FAIL() << "no error";
    } catch (const PlantError& e) {
        EXPECT_EQ("dir/a plant.toml", e.file());
        EXPECT_EQ(4ul, e.line());
        EXPECT_EQ(8ul, e.column());
        EXPECT_EQ("card ac5 takes one argument: ac5:PORT", e.message());
        EXPECT_STREQ("dir/a plant.toml:4:8: card ac5 takes one argument: ac5:PORT", e.what());
    }
}

TEST(PlantFile, LoadsAFileAndNamesOneItCannotOpen) {
    TempDir folder("tavex-plant");
    const std::string path = folder.file("line.toml");
    {
        std::ofstream out(path);
        out << lineCard << "[tracks.eyes]\ncard = \"line\"\ntrack = \"0:IIIIIIII\"\n"
            << "[tracks.bad]\ncard = \"nowhere\"\ntrack = \"0:I\"\n";
    }
    try {
        Plant::load(path);
        FAIL() << "no error";
    } catch (const PlantError& e) {
        EXPECT_EQ(path + ":7:8: no card named 'nowhere'; the cards are line", e.what());
    }
    const std::string missing = folder.file("missing.toml");
    try {
        Plant::load(missing);
        FAIL() << "no error";
    } catch (const PlantError& e) {
        EXPECT_EQ(0ul, e.line());
        EXPECT_EQ(0u, std::string(e.what()).find(missing + ": cannot open the plant file: "))
            << e.what();
    }
}

// [gateway] as a Modbus gateway would read it.
TEST(PlantFile, FrontEndTablesAreReadWithPositions) {
    const std::string text = lineCard +
                             "[gateway]\n"
                             "port = 1502\n"
                             "listen = \"127.0.0.1\"\n"
                             "unit = { line = 1, master = 300 }\n"
                             "tracks = [\"eyes\", 4]\n"
                             "verbose = \"yes\"\n";
    EXPECT_EQ(positionOf(text, "gateway") +
                  "unknown key 'gateway' (a plant file has period, [cards], [tracks])",
              errorOf(text));
    const Plant plant = Plant::parse(text, "plant.toml", {"gateway", "python"});
    ASSERT_TRUE(plant.hasTable("gateway"));
    EXPECT_FALSE(plant.hasTable("python"));
    EXPECT_THROW(plant.table("scada"), std::logic_error);

    const PlantTable gateway = plant.table("gateway");
    EXPECT_EQ("gateway", gateway.name());
    EXPECT_EQ((std::vector<std::string>{"port", "listen", "unit", "tracks", "verbose"}),
              gateway.keys());
    EXPECT_EQ(1502, gateway.getInteger("port", 1, 65535));
    EXPECT_EQ("127.0.0.1", gateway.getString("listen"));
    EXPECT_EQ(7, gateway.getInteger("timeout", 0, 10, 7));
    EXPECT_TRUE(gateway.isTable("unit"));
    const PlantTable unit = gateway.subtable("unit");
    EXPECT_EQ("gateway.unit", unit.name());
    EXPECT_EQ((std::vector<std::string>{"line", "master"}), unit.keys());
    EXPECT_EQ(1, unit.getInteger("line", 1, 247));

    const auto at = [&](const std::string& where) { return positionOf(text, where); };
    const struct {
        std::function<void()> read;
        std::string error;
    } cases[] = {
        {[&] { unit.getInteger("master", 1, 247); }, at("300 }") + "'master' is 300, not within 1 to 247"},
        {[&] { gateway.getString("port"); }, at("1502") + "expected a string for 'port', found an integer"},
        {[&] { gateway.getBool("verbose"); }, at("\"yes") + "expected true or false for 'verbose', found a string"},
        {[&] { gateway.getStringArray("tracks"); }, at("4]") + "expected a string in 'tracks', found an integer"},
        {[&] { gateway.subtable("listen"); }, at("\"127") + "expected a table for 'listen', found a string"},
        {[&] { gateway.getString("name"); }, at("[gateway]") + "[gateway] needs 'name', a string"},
        {[&] { unit.getInteger("panel", 1, 247); }, at("{ line") + "[gateway.unit] needs 'panel', an integer from 1 to 247"},
        {[&] { unit.fail("line", "unit 1 is taken"); }, at("1, master") + "unit 1 is taken"},
        {[&] { gateway.fail("no such key", "wrong here"); }, at("[gateway]") + "wrong here"},
        {[&] { plant.table("python").getString("module"); }, "plant.toml: [python] needs 'module', a string"},
    };
    for (const auto& c : cases)
        EXPECT_TRUE(throwsExactly<PlantError>(c.read, c.error));

    // An absent table gives what the front end chose for each key.
    const PlantTable python = plant.table("python");
    EXPECT_FALSE(python.has("module"));
    EXPECT_TRUE(python.keys().empty());
    EXPECT_EQ("tavex", python.getString("module", "tavex"));
    EXPECT_FALSE(python.getBool("gil", false));
    EXPECT_EQ(std::vector<std::string>{"x"}, python.getStringArray("paths", {"x"}));

    // A front-end key that is no table is refused with the others.
    EXPECT_EQ("plant.toml:1:11: expected a table for 'gateway', found an integer",
              errorOf("gateway = 5\n", {"gateway"}));
}
