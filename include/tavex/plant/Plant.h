// The plant file: the cards of a PC, named tracks on them, the names of
// their points, the values their outputs take when a program stops, and
// the scan period, written once in TOML and read the same way by every
// front end.
//
//   # a plant
//   period = "10ms"            # "500us", "10ms", "1s" (whole numbers); an integer
//                              # is microseconds; 1 us to 3600 s; 100 ms if absent
//   [cards.line]               # a named card
//   card = "ac5:0x300"         # a CARD string (tavex/plant/CardString.h)
//   [cards.master]
//   card = "pfb:/opt/pfb/,9,0"
//   [tracks.eyes]              # a named track
//   card = "line"              # the name of a card above
//   track = "0:IIIIIIII"       # START:LETTERS, letters of I O A U C R N
//   points = ["eye1", "eye2"]  # optional point names, by position: no more
//                              # than the track has, none empty, none twice
//   [tracks.motors]
//   card = "line"
//   track = "1:OOOOOOOO"
//   safe = [0, 0, 0, 0, 0, 0, 0, 0]   # optional safe output values by position,
//   # no more than the track has (a position that is no output takes 0);
//   # or a table by point name:  safe = { conveyor = 0, valve = 1 }
//   [gateway]                  # a table of a front end that asked for it
//   unit = { line = 1 }
//
// Safe values: 0 or 1 on a digital output (O), a signed 32-bit value on an
// analog output (U: the analog cards scale their codes to the full 32 bits);
// other points take none.  An output the file gives no safe value is safe
// at 0.
//
// Cards and tracks keep the order of the file.  Names are any TOML key; a
// card and a track may share one.  Keys that are not listed above, tables
// other than cards, tracks and those of the front end, and values of the
// wrong type are errors.  Every error is a PlantError that points at the
// offending value (or key) in the compiler's form, "FILE:LINE:COL: message".
//
// Plant reads and checks the file; PlantIO builds its cards and tracks.
#ifndef TAVEX_PLANT_PLANT_H
#define TAVEX_PLANT_PLANT_H

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "tavex/model/IOCard.h"
#include "tavex/model/IOTrack.h"
#include "tavex/plant/CardString.h"
#include "tavex/plant/OpenCard.h"

namespace Tavex {

// A mistake in a plant file, with where it is.  line and column count from
// 1; both are 0 when the file as a whole is at fault (it cannot be read),
// and what() is then "FILE: message".
class PlantError : public std::runtime_error {
public:
    PlantError(const std::string& file, unsigned long line, unsigned long column,
               const std::string& message);

    const std::string& file() const { return file_; }
    unsigned long line() const { return line_; }
    unsigned long column() const { return column_; }
    // The message without the position.
    const std::string& message() const { return message_; }

private:
    std::string file_;
    unsigned long line_;
    unsigned long column_;
    std::string message_;
};

struct PlantDocument;   // the parsed file; only the plant library looks inside

// A table of the plant file that a front end reads for itself ([gateway]
// and the tables in it).  Every getter throws a PlantError at the value (a
// wrong type, a number out of range) or, for a key that must be there and
// is not, at the table.  Copies share the parsed file.
class PlantTable {
public:
    // "gateway", "gateway.unit".
    const std::string& name() const { return name_; }
    bool has(const std::string& key) const;
    // The keys in the order of the file.
    std::vector<std::string> keys() const;
    bool isTable(const std::string& key) const;

    std::string getString(const std::string& key) const;
    std::string getString(const std::string& key, const std::string& otherwise) const;
    long long getInteger(const std::string& key, long long min, long long max) const;
    long long getInteger(const std::string& key, long long min, long long max,
                         long long otherwise) const;
    bool getBool(const std::string& key) const;
    bool getBool(const std::string& key, bool otherwise) const;
    std::vector<std::string> getStringArray(const std::string& key) const;
    std::vector<std::string> getStringArray(const std::string& key,
                                            const std::vector<std::string>& otherwise) const;
    PlantTable subtable(const std::string& key) const;

    // Throws a PlantError with message at key (its value; the table itself
    // when the key is absent), or at the table.
    [[noreturn]] void fail(const std::string& key, const std::string& message) const;
    [[noreturn]] void fail(const std::string& message) const;

private:
    friend class Plant;
    PlantTable(std::shared_ptr<const PlantDocument> document, const void* table,
               const std::string& name);

    std::shared_ptr<const PlantDocument> document_;
    const void* table_;   // a table of the parsed file, or null for an absent table
    std::string name_;
};

struct PlantCard {
    std::string name;
    CardArguments arguments;   // arguments.text: the CARD string
};

struct PlantTrack {
    std::string name;
    std::string card;                  // the name of its card
    std::string text;                  // the TRACK string
    TrackArguments arguments;
    std::vector<std::string> points;   // point names by position; may be shorter than the track
    std::vector<long> safe;            // one value per point: 0 where none is given
    bool safeGiven;                    // the file gives safe values

    std::size_t numberOfPoints() const { return arguments.letters.size(); }
    // The point of that name, or -1.
    long pointIndex(const std::string& point) const;
};

class Plant {
public:
    // frontEndTables: the top-level tables that the front end reads
    // itself (table()); any other table but cards and tracks is an error.
    static Plant load(const std::string& path,
                      const std::vector<std::string>& frontEndTables = std::vector<std::string>());
    // text as the content of a file called file.
    static Plant parse(const std::string& text, const std::string& file,
                       const std::vector<std::string>& frontEndTables = std::vector<std::string>());

    const std::string& file() const { return file_; }
    // The scan period in microseconds.
    unsigned long period() const { return period_; }
    const std::vector<PlantCard>& cards() const { return cards_; }
    const std::vector<PlantTrack>& tracks() const { return tracks_; }
    // By name, or null.
    const PlantCard* findCard(const std::string& name) const;
    const PlantTrack* findTrack(const std::string& name) const;

    // A table the front end named to load() or parse(): present in the file
    // or not (then it is empty, and has() is false for every key).  Throws
    // std::logic_error for a table the front end did not name.
    bool hasTable(const std::string& name) const;
    PlantTable table(const std::string& name) const;

private:
    Plant();

    std::shared_ptr<const PlantDocument> document_;
    std::vector<std::string> frontEndTables_;
    std::string file_;
    unsigned long period_;
    std::vector<PlantCard> cards_;
    std::vector<PlantTrack> tracks_;
};

// The cards and tracks of a plant, built: every card in the order of the
// file, then every track.  A card or track that the library refuses
// throws the library's own error, and what was already built goes again:
// a PlantIO that throws leaves nothing open.  The tracks go before their
// cards, the last built first.
class PlantIO {
public:
    explicit PlantIO(const Plant& plant, const OpenOptions& options = OpenOptions());
    ~PlantIO();
    PlantIO(const PlantIO&) = delete;
    PlantIO& operator=(const PlantIO&) = delete;

    const Plant& plant() const { return plant_; }

    // By name; std::out_of_range for a name the plant does not have.
    OpenCard& card(const std::string& name);
    IOTrack& track(const std::string& name);
    // By position, in the order of plant().tracks().
    std::size_t trackCount() const { return tracks_.size(); }
    IOTrack& track(std::size_t index) { return *tracks_.at(index); }
    const PlantTrack& trackInfo(std::size_t index) const { return plant_.tracks().at(index); }

    // The longest settle time of the cards (OpenCard::settleTime()).
    unsigned long settleTime() const;

    // Sets every output track's values to its safe values (plant().tracks()
    // safe); writing them is the caller's (updateOutputs).
    void setSafeValues();

    // Destroys the tracks and the cards now; the first refusal of a card's
    // destructor comes through, after every card is gone.
    void close();

private:
    Plant plant_;
    std::vector<std::unique_ptr<OpenCard> > cards_;
    std::vector<std::unique_ptr<IOTrack> > tracks_;
};

}  // namespace Tavex

#endif
