#include "merge/merge_reader.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "merge/block_stream.h"
#include "report/json_document.h"
#include "merge/json_reader.h"
#include "merge/merge_settings.h"
#include "merge/row_adder.h"
#include "report/interval_time.h"
#include "report/row_keys.h"
#include "settings.h"
#include "stats/stat_kinds.h"

namespace tallywire {

namespace {

namespace doc = json_document;

// A text from the input quoted in a message, cut so that a hostile key
// cannot flood the terminal.
std::string quoted(std::string_view text) {
    constexpr std::size_t longest = 60;
    std::string shown = "\"" + std::string(text.substr(0, longest));
    return shown + (text.size() > longest ? "...\"" : "\"");
}

// The member a value belongs to: one of the document's, or none yet, or
// one the document has no place for.
using field = doc::member;
constexpr field no_field = static_cast<field>(0xfe);
constexpr field unknown_field = static_cast<field>(0xff);

// Where in a document the reader stands.
enum class place { outside, document, interval, settings, kinds, drops, totals, tables, table, rows, row, done };

// A member name's slot in its object's table: its length and its first
// and middle letters tell every member of an object from every other (the
// table below is checked for that when it is built; "partial" and
// "version" part only with the first letter weighed thrice).
constexpr std::size_t name_slots = 64;
constexpr std::size_t slot_of(std::string_view name) {
    const auto letter = [&](std::size_t at) { return static_cast<unsigned char>(name[at]); };
    return (name.size() + letter(0) * 3 + letter(name.size() / 2) * 6) % name_slots;
}

// The member each slot may stand for, by the place the reader stands in:
// those of the object it is in, and none where there is no object.
constexpr auto members_at = [] {
    std::array<std::array<field, name_slots>, static_cast<std::size_t>(place::done) + 1> at{};
    for (auto& slots : at) {
        slots.fill(unknown_field);
    }
    const auto fill = [&](place where, doc::object in) {
        for (const doc::member_rule& rule : doc::members_of(in)) {
            auto& slot = at[static_cast<std::size_t>(where)][slot_of(rule.name)];
            // Two members of one object in one slot: change slot_of.
            slot = slot == unknown_field ? rule.id : no_field;
        }
    };
    fill(place::document, doc::object::document);
    fill(place::interval, doc::object::interval);
    fill(place::settings, doc::object::settings);
    fill(place::drops, doc::object::drops);
    fill(place::totals, doc::object::totals);
    fill(place::table, doc::object::table);
    fill(place::row, doc::object::row);
    return at;
}();
static_assert([] {
    for (const auto& slots : members_at) {
        for (const field slot : slots) {
            if (slot == no_field) {
                return false;
            }
        }
    }
    return true;
}(), "every member of an object has a slot of its own");

// Six names of every row come through here: one lookup finds the only
// member the name can be, and one comparison says whether it is.
// (A search of the object's members costs the merge about 2% more.)
field field_of(place at, std::string_view name) {
    if (name.empty()) {
        return unknown_field;
    }
    const field known = members_at[static_cast<std::size_t>(at)][slot_of(name)];
    if (known == unknown_field) {
        return unknown_field;
    }
    const std::string_view known_name = doc::name_of(known);
    // A loop of its own: a call of memcmp for a five-letter name costs
    // more than the comparison.
    return known_name.size() == name.size() &&
                   std::equal(known_name.begin(), known_name.end(), name.begin(),
                              [](char a, char b) { return a == b; })
               ? known
               : unknown_field;
}

// The events of one document, checked and added to the sums as they come.
// Every handler returns false to stop the reading, with the reason in
// refusal.
class part_reader : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, part_reader> {
public:
    part_reader(merged_reports& sums, const run_config& command_line,
                std::optional<counting_settings>& first_settings, std::uint32_t part,
                row_adder& adder)
        : sums_(sums),
          command_line_(command_line),
          first_settings_(first_settings),
          part_(part),
          adder_(adder) {
        batch_.rows.reserve(row_adder::batch_rows);
    }

    std::string refusal;
    // The adder refused a row: it says why.
    bool stopped_by_adder = false;

    bool finished() const { return place_ == place::done; }

    bool StartObject() {
        switch (place_) {
        case place::outside: return enter(place::document);
        case place::document:
            if (field_ == field::settings) {
                return before(field::settings) && enter(place::settings);
            }
            if (field_ == field::drops) {
                return enter(place::drops);
            }
            if (field_ == field::totals) {
                return enter(place::totals);
            }
            if (field_ == field::interval) {
                if (tables_started_ || interval_ != nullptr) {
                    return refuse("\"interval\" after \"tables\" or twice");
                }
                interval_start_.reset();
                interval_end_.reset();
                return enter(place::interval);
            }
            break;
        case place::tables:
            table_ = table_state{};
            return enter(place::table);
        case place::rows:
            row_.clear();
            return enter(place::row);
        default: break;
        }
        return unexpected("an object");
    }

    bool EndObject(rapidjson::SizeType) {
        switch (place_) {
        case place::document: return end_document();
        case place::interval: return end_interval();
        case place::settings: return end_settings();
        case place::drops: return end_drops();
        case place::totals: return leave(place::document);
        case place::table:
            if ((table_.seen & table_needed) != table_needed) {
                return refuse("a table without its kind or its rows");
            }
            return leave(place::tables);
        case place::row: return end_row();
        default: return refuse("malformed document");
        }
    }

    bool StartArray() {
        if (place_ == place::settings && field_ == field::kinds) {
            stated_.kinds = 0;
            settings_seen_ |= doc::bit_of(field::kinds);
            return enter(place::kinds);
        }
        if (place_ == place::document && field_ == field::tables) {
            if (!seen(field::settings) || !seen(field::complete)) {
                return refuse("\"tables\" before \"settings\" and \"complete\"");
            }
            if (interval_ != nullptr && interval_->tables.empty() &&
                open_tables(first_settings_->kinds, accounting_context_of(sums_.config),
                            interval_->tables) != 0) {
                return refuse(std::string("no memory for the sums: ") + std::strerror(errno));
            }
            tables_started_ = true;
            return enter(place::tables);
        }
        if (place_ == place::table && field_ == field::rows) {
            if (!table_.kind) {
                return refuse("a table's rows before its kind");
            }
            return enter(place::rows);
        }
        return unexpected("an array");
    }

    bool EndArray(rapidjson::SizeType) {
        switch (place_) {
        case place::kinds: return leave(place::settings);
        case place::tables: return leave(place::document);
        case place::rows:
            table_.seen |= doc::bit_of(field::rows);
            return hand_over() && leave(place::table);
        default: return refuse("malformed document");
        }
    }

    bool Key(const char* text, rapidjson::SizeType length, bool) {
        const std::string_view name(text, length);
        field_ = field_of(place_, name);
        if (field_ == unknown_field) {
            unknown_member_ = name.substr(0, 40);
        }
        if (place_ == place::document && members_ == 0 && field_ != field::program) {
            return refuse("not a tallywire document");
        }
        ++members_;
        return true;
    }

    bool String(const char* text, rapidjson::SizeType length, bool) {
        const std::string_view value(text, length);
        switch (place_) {
        case place::document:
            if (field_ == field::program) {
                seen_ |= doc::bit_of(field::program);
                return value == doc::program_name || refuse("not a tallywire document");
            }
            if (field_ == field::version) {
                return true;
            }
            break;
        case place::interval:
            if (field_ == field::interval_start || field_ == field::interval_end) {
                const std::optional<std::int64_t> time = parse_interval_time(value);
                if (!time) {
                    return refuse("an interval bound " + quoted(value) + " that does not parse");
                }
                (field_ == field::interval_start ? interval_start_ : interval_end_) = time;
                return true;
            }
            break;
        case place::kinds:
            if (const auto kind = stat_kind_of_name(value)) {
                stated_.kinds |= *kind;
                return true;
            }
            return refuse("unknown statistic " + quoted(value));
        case place::table:
            if (field_ == field::kind) {
                return begin_table(value);
            }
            break;
        case place::row:
            if (field_ == field::key) {
                // A text where the kind's key is no text does not parse.
                row_.key = doc::key_shape_of(table_.kind) == doc::key_shape::text
                               ? key_from_text(table_.kind, value)
                               : std::nullopt;
                row_.seen |= doc::bit_of(field::key);
                if (!row_.key) {  // only a key that does not parse is quoted as given
                    row_.key_text = quoted(value);
                }
                return true;
            }
            if (field_ == field::label || field_ == field::name) {
                return true;  // looked up afresh for the merged report
            }
            if (field_ == field::direction) {
                return read_direction(value);
            }
            break;
        default: break;
        }
        return unexpected("a string");
    }

    bool Bool(bool value) {
        if (place_ == place::document) {
            if (field_ == field::complete) {
                seen_ |= doc::bit_of(field::complete);
                return value || refuse("cut by -t: not every row is present");
            }
            if (field_ == field::read_error) {
                read_error_ = value;
                return true;
            }
            if (field_ == field::partial) {
                partial_ = value;
                return true;
            }
        } else if (place_ == place::settings) {
            if (field_ == field::direction_split) {
                return set(field::direction_split, stated_.direction_split, value);
            }
            if (field_ == field::ipv6) {
                return set(field::ipv6, stated_.ipv6, value);
            }
            if (field_ == field::look_through) {
                return set(field::look_through, stated_.look_through, value);
            }
        }
        return unexpected("true or false");
    }

    bool Null() {
        if (place_ == place::document && field_ == field::drops) {
            return true;
        }
        if (place_ == place::settings && field_ == field::port_limit) {
            settings_seen_ |= doc::bit_of(field::port_limit);
            stated_.port_limit.reset();
            return true;
        }
        if (place_ == place::row) {
            if (field_ == field::share || field_ == field::name) {
                return true;
            }
            if (field_ == field::key) {
                // Total's null key is read as number 0 (see row_keys.h).
                row_.key = doc::key_shape_of(table_.kind) == doc::key_shape::null
                               ? std::optional<std::variant<table_key, wide_key>>(
                                     *key_from_number(table_.kind, 0))
                               : std::nullopt;
                row_.seen |= doc::bit_of(field::key);
                return true;
            }
        }
        return unexpected("null");
    }

    bool Uint(unsigned value) { return Uint64(value); }
    bool Uint64(std::uint64_t value) {
        switch (place_) {
        case place::document:
            if (field_ == field::format) {
                seen_ |= doc::bit_of(field::format);
                return value == doc::format_number ||
                       refuse("a report of format " + std::to_string(value) +
                              "; this tallywire reads format " +
                              std::to_string(doc::format_number));
            }
            if (field_ == field::late) {
                late_ = value;
                return true;
            }
            break;
        case place::settings:
            if (field_ == field::port_limit && value <= INT32_MAX) {
                settings_seen_ |= doc::bit_of(field::port_limit);
                stated_.port_limit = static_cast<std::int32_t>(value);
                return true;
            }
            break;
        case place::drops:
            if (field_ == field::by_kernel) {
                drops_.by_kernel = value;
                return true;
            }
            if (field_ == field::by_interface) {
                drops_.by_interface = value;
                return true;
            }
            if (field_ == field::drops_total) {
                return true;
            }
            break;
        case place::totals:
            if (field_ == field::totals_packets || field_ == field::totals_bytes) {
                return true;
            }
            break;
        case place::row:
            if (field_ == field::key) {
                const auto key = key_from_number(table_.kind, value);
                row_.key = key ? std::optional<std::variant<table_key, wide_key>>(*key)
                               : std::nullopt;
                row_.seen |= doc::bit_of(field::key);
                if (!row_.key) {
                    row_.key_text = std::to_string(value);
                }
                return true;
            }
            if (field_ == field::packets) {
                row_.seen |= doc::bit_of(field::packets);
                row_.packets = value;
                return true;
            }
            if (field_ == field::bytes) {
                row_.seen |= doc::bit_of(field::bytes);
                row_.bytes = value;
                return true;
            }
            if (field_ == field::share) {
                return true;
            }
            break;
        default: break;
        }
        return unexpected("a count");
    }

    bool Int(int value) { return Int64(value); }
    bool Int64(std::int64_t value) {
        if (place_ == place::settings && field_ == field::port_limit && value >= INT32_MIN) {
            settings_seen_ |= doc::bit_of(field::port_limit);
            stated_.port_limit = static_cast<std::int32_t>(value);
            return true;
        }
        return share_or(value < 0 ? "a negative number" : "a number");
    }

    bool Double(double) { return share_or("a number that is no count"); }

private:
    static constexpr doc::member_set document_needed = doc::needed_in(doc::object::document);
    static constexpr doc::member_set settings_needed = doc::needed_in(doc::object::settings);
    static constexpr doc::member_set table_needed = doc::needed_in(doc::object::table);
    static constexpr doc::member_set row_needed = doc::needed_in(doc::object::row);

    struct table_state {
        std::uint32_t kind = 0;
        doc::member_set seen = 0;  // its members read
    };
    struct row_state {
        doc::member_set seen = 0;  // its members read
        std::optional<std::variant<table_key, wide_key>> key;
        std::string key_text;
        std::optional<std::int8_t> direction;
        std::uint64_t packets = 0;
        std::uint64_t bytes = 0;

        // As a fresh row_state, but the key text keeps its buffer.
        void clear() {
            seen = 0;
            key.reset();
            key_text.clear();
            direction.reset();
        }
    };

    bool refuse(std::string reason) {
        refusal = std::move(reason);
        return false;
    }

    bool unexpected(const char* what) {
        if (place_ == place::outside) {
            return refuse("not a tallywire document");
        }
        return refuse(std::string(what) + " where the document has no place for it" +
                      (field_ == no_field ? "" : " (at \"" + member_name() + "\")"));
    }

    std::string member_name() const {
        if (field_ == unknown_field) {
            return unknown_member_;
        }
        return field_ == no_field ? std::string() : std::string(doc::name_of(field_));
    }

    bool share_or(const char* what) {
        return (place_ == place::row && field_ == field::share) || unexpected(what);
    }

    bool enter(place next) {
        place_ = next;
        field_ = no_field;
        return true;
    }
    bool leave(place back) {
        place_ = back;
        return true;
    }

    bool before(field member) {
        return seen(field::format) ||
               refuse("\"" + std::string(doc::name_of(member)) + "\" before \"format\"");
    }

    bool seen(field member) const { return (seen_ & doc::bit_of(member)) != 0; }

    bool set(field member, bool& setting, bool value) {
        settings_seen_ |= doc::bit_of(member);
        setting = value;
        return true;
    }

    bool end_document() {
        if ((seen_ & document_needed) != document_needed) {
            return refuse("not a whole tallywire document: \"format\", \"settings\", "
                          "\"complete\" or \"tables\" is missing");
        }
        const bool of_interval = interval_ != nullptr;
        if (sums_.of_intervals && *sums_.of_intervals != of_interval) {
            return refuse(of_interval ? "a report of an interval among reports of whole runs"
                                      : "a report of a whole run among reports of intervals");
        }
        if (!of_interval && command_line_.interval_microseconds != 0) {
            return refuse("a report of a whole run: --interval re-bins reports of intervals");
        }
        sums_.of_intervals = of_interval;
        capture_outcome& outcome = of_interval ? interval_->outcome : sums_.outcome;
        outcome.stopped_at_read_error |= read_error_;
        if (drops_seen_) {
            drop_counts sum = outcome.drops.value_or(drop_counts{});
            if (__builtin_add_overflow(sum.by_kernel, drops_.by_kernel, &sum.by_kernel) ||
                __builtin_add_overflow(sum.by_interface, drops_.by_interface,
                                       &sum.by_interface)) {
                return refuse("its drops bring the sum past 2^64 - 1");
            }
            outcome.drops = sum;
        }
        if (of_interval) {
            interval_->partial |= partial_;
            if (__builtin_add_overflow(interval_->late, late_, &interval_->late)) {
                return refuse("its late frames bring the sum past 2^64 - 1");
            }
        }
        return leave(place::done);
    }

    // The interval the document's tables add into: its own, or the one of
    // the command line's length that holds it.
    bool end_interval() {
        if (!interval_start_ || !interval_end_) {
            return refuse("an interval without its start or end");
        }
        const std::int64_t start = *interval_start_;
        const std::int64_t length = *interval_end_ - start;
        constexpr std::int64_t millisecond = 1000;
        if (length <= 0 || length % millisecond != 0 || start % length != 0) {
            return refuse("an interval that is no whole number of milliseconds aligned to "
                          "its length");
        }
        const std::int64_t wanted = command_line_.interval_microseconds;
        std::int64_t bin = start;
        if (wanted != 0) {
            if (wanted % length != 0) {
                return refuse("its intervals of " + std::to_string(length / millisecond) +
                              " ms do not add up into --interval's of " +
                              std::to_string(wanted / millisecond) + " ms: not a multiple");
            }
            bin = start - ((start % wanted) + wanted) % wanted;
            sums_.interval_length = wanted;
        } else if (sums_.interval_length != 0 && sums_.interval_length != length) {
            return refuse("its intervals of " + std::to_string(length / millisecond) +
                          " ms differ from part 1's of " +
                          std::to_string(sums_.interval_length / millisecond) +
                          " ms; --interval can add both into longer ones");
        } else {
            sums_.interval_length = length;
        }
        interval_ = &sums_.intervals[bin];
        interval_->end_microseconds = bin + sums_.interval_length;
        return leave(place::document);
    }

    bool end_settings() {
        if ((settings_seen_ & settings_needed) != settings_needed ||
            (stated_.kinds & stat_total) == 0) {
            return refuse("settings without every counting setting");
        }
        if (first_settings_) {
            if (const char* differs = first_difference(stated_, *first_settings_, every_setting)) {
                return refuse(std::string("its ") + differs + " differs from part 1's");
            }
        } else {
            if (const char* differs = first_unmet(
                    stated_, command_line_settings(command_line_), command_line_.named)) {
                return refuse(std::string("its ") + differs + " differs from the command line's");
            }
            first_settings_ = stated_;
            sums_.config = adopt(command_line_, stated_);
            if (open_tables(stated_.kinds, accounting_context_of(sums_.config), sums_.tables) !=
                0) {
                return refuse(std::string("no memory for the sums: ") + std::strerror(errno));
            }
        }
        seen_ |= doc::bit_of(field::settings);
        return leave(place::document);
    }

    // Added at the document's end, into its interval's or the run's.
    bool end_drops() {
        drops_seen_ = true;
        return leave(place::document);
    }

    bool begin_table(std::string_view name) {
        const auto kind = stat_kind_of_name(name);
        if (!kind || (stated_.kinds & *kind) == 0) {
            return refuse("a table " + quoted(name) + " its settings do not collect");
        }
        if ((tables_read_ & *kind) != 0) {
            return refuse("the table " + quoted(name) + " stands twice");
        }
        tables_read_ |= *kind;
        table_.kind = *kind;
        table_.seen |= doc::bit_of(field::kind);
        seen_ |= doc::bit_of(field::tables);
        return true;
    }

    bool read_direction(std::string_view value) {
        for (std::size_t side = 0; side < std::size(doc::direction_names); ++side) {
            if (value == doc::direction_names[side]) {
                row_.direction = static_cast<std::int8_t>(side);
                return true;
            }
        }
        return refuse("a direction " + quoted(value));
    }

    bool end_row() {
        const std::string_view kind_name = stat_kind_name(table_.kind);
        if ((row_.seen & row_needed) != row_needed) {
            return refuse(std::string(kind_name) + " row without its key, packets or bytes");
        }
        if (!row_.key) {
            return refuse(std::string(kind_name) + " key " + row_.key_text + " does not parse");
        }
        // Made only for a message: most merges refuse no row.
        const auto described = [&] {
            return std::string(kind_name) + " key " + key_in_message(table_.kind, *row_.key);
        };
        if (std::holds_alternative<wide_key>(*row_.key) && !stated_.ipv6) {
            return refuse(described() + " does not parse");
        }
        const bool sides_apart = stated_.direction_split && two_sided(table_.kind);
        if (row_.direction.has_value() != sides_apart) {
            return refuse(described() + (sides_apart ? " without" : " with") + " a direction");
        }
        if (row_.packets == 0) {
            return refuse(described() + " of no packets");
        }
        std::variant<table_key, wide_key> key = *row_.key;
        const std::int8_t direction = row_.direction.value_or(0);
        std::visit([&](auto& either) { either.direction = direction; }, key);
        if (batch_.rows.empty()) {
            batch_.sums = table_sums();
            batch_.kind = table_.kind;
            batch_.part = part_;
            batch_.sides_apart = sides_apart;
        }
        batch_.rows.push_back(checked_row{key, table_counters{row_.bytes, row_.packets}});
        return (batch_.rows.size() < row_adder::batch_rows || hand_over()) && leave(place::rows);
    }

    // The rows gathered so far go to be added; false when the adder has
    // refused a row, which ends the reading.
    bool hand_over() {
        if (batch_.rows.empty() || adder_.hand_over(batch_)) {
            return true;
        }
        stopped_by_adder = true;
        return false;
    }

    counting_table* table_sums() {
        for (stat_table& table : interval_ != nullptr ? interval_->tables : sums_.tables) {
            if (table.kind == table_.kind) {
                return table.db.get();
            }
        }
        return nullptr;  // every kind of the settings has its table
    }

    merged_reports& sums_;
    const run_config& command_line_;
    std::optional<counting_settings>& first_settings_;
    std::uint32_t part_;
    row_adder& adder_;

    place place_ = place::outside;
    field field_ = no_field;
    std::string unknown_member_;  // the last name the document has no place for
    std::size_t members_ = 0;
    doc::member_set seen_ = 0;           // the document's members read
    doc::member_set settings_seen_ = 0;  // the settings' members read
    counting_settings stated_;
    drop_counts drops_;
    bool drops_seen_ = false;
    bool tables_started_ = false;
    bool read_error_ = false;
    bool partial_ = false;
    std::uint64_t late_ = 0;
    std::optional<std::int64_t> interval_start_;
    std::optional<std::int64_t> interval_end_;
    interval_sums* interval_ = nullptr;  // the document's, if it is of an interval
    std::uint32_t tables_read_ = 0;
    table_state table_;
    row_state row_;
    row_batch batch_;
};

void say(std::uint32_t part, const std::string& reason) {
    std::fprintf(stderr, "tallywire: --merge: part %u: %s\n", part, reason.c_str());
}

}  // namespace

std::optional<merged_reports> merge_reports(std::FILE* in, const run_config& command_line) {
    merged_reports sums;
    sums.config = command_line;
    std::optional<counting_settings> first_settings;
    block_stream stream(in);
    rapidjson::Reader reader;
    row_adder adder;
    // A refused add belongs to an earlier row than anything the reader
    // stopped at after it, so it is told first.
    const auto adder_refused = [&] {
        if (const std::optional<add_refusal> refused = adder.finish()) {
            say(refused->part, refused->reason);
            return true;
        }
        return false;
    };
    constexpr unsigned flags = rapidjson::kParseStopWhenDoneFlag |
                               rapidjson::kParseIterativeFlag;
    for (;;) {
        stream.skip_whitespace();
        if (stream.at_end() && !stream.bad_utf8_at()) {
            break;
        }
        const std::uint32_t part = ++sums.parts;
        part_reader events(sums, command_line, first_settings, part, adder);
        const rapidjson::ParseResult parsed = reader.Parse<flags>(stream, events);
        if (parsed.IsError() || !events.finished()) {
            if (adder_refused()) {
                return std::nullopt;
            }
            if (!events.refusal.empty()) {
                say(part, events.refusal);
            } else if (const auto bad = stream.bad_utf8_at(); bad && stream.at_end()) {
                // The parser read up to the first byte that is not UTF-8.
                say(part, "malformed JSON at byte " + std::to_string(*bad) +
                              " of the input: not well-formed UTF-8");
            } else if (stream.read_error() != 0) {
                say(part, std::string("cannot be read: ") + std::strerror(stream.read_error()));
            } else if (stream.at_end()) {
                say(part, "the input ends inside it: the document is cut short");
            } else {
                say(part, std::string("malformed JSON at byte ") + std::to_string(parsed.Offset()) +
                              " of the input: " + rapidjson::GetParseError_En(parsed.Code()));
            }
            return std::nullopt;
        }
    }
    if (adder_refused()) {
        return std::nullopt;
    }
    if (stream.read_error() != 0) {
        std::fprintf(stderr, "tallywire: --merge: cannot be read: %s\n",
                     std::strerror(stream.read_error()));
        return std::nullopt;
    }
    if (sums.parts == 0) {
        std::fputs("tallywire: --merge: no report to merge: the input holds no document\n",
                   stderr);
        return std::nullopt;
    }
    // The kinds the command line leaves out were added up all the same:
    // every part's rows are checked alike.
    std::erase_if(sums.tables, [&](const stat_table& table) {
        return (table.kind & sums.config.stat_kinds) == 0;
    });
    return sums;
}

}  // namespace tallywire
