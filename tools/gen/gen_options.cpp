#include "gen_options.h"

#include <getopt.h>
#include <pcap/dlt.h>

#include <array>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace twgen {
namespace {

constexpr const char* program = "tallywire-gen";

bool complain(const char* option, const char* what, std::string_view text) {
    std::fprintf(stderr, "%s: %s: %s: '%.*s'\n", program, option, what,
                 static_cast<int>(text.size()), text.data());
    return false;
}

template <typename Number>
bool read_number(const char* option, std::string_view text, unsigned long long low,
                 unsigned long long high, Number& out) {
    unsigned long long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error == std::errc::invalid_argument || end != text.data() + text.size()) {
        return complain(option, "not a whole number", text);
    }
    if (error == std::errc::result_out_of_range || value < low || value > high) {
        char range[64];
        std::snprintf(range, sizeof range, "out of range %llu..%llu", low, high);
        return complain(option, range, text);
    }
    out = static_cast<Number>(value);
    return true;
}

bool read_skew(std::string_view text, double& out) {
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size() ||
        !(value >= 0 && value <= 100)) {
        return complain("-z", "not a number from 0 to 100", text);
    }
    out = value;
    return true;
}

struct weight_name {
    std::string_view name;
    unsigned mix_weights::*weight;
};

// The kinds "all" sets: the ones a mix has unless told otherwise. The
// later kinds are asked for by name.
constexpr std::size_t default_kinds = 14;

constexpr std::array<weight_name, 19> weight_names = {{
    {"tcp", &mix_weights::ipv4_tcp},
    {"udp", &mix_weights::ipv4_udp},
    {"icmp", &mix_weights::ipv4_icmp},
    {"options", &mix_weights::ipv4_options},
    {"fragment", &mix_weights::ipv4_fragment},
    {"ipv6", &mix_weights::ipv6},
    {"arp", &mix_weights::arp},
    {"revarp", &mix_weights::revarp},
    {"ipx", &mix_weights::ipx},
    {"appletalk", &mix_weights::appletalk},
    {"aarp", &mix_weights::aarp},
    {"vlan", &mix_weights::vlan},
    {"8023", &mix_weights::ieee8023},
    {"other", &mix_weights::link_other},
    {"ipv6-ext", &mix_weights::ipv6_ext},
    {"dot1q", &mix_weights::dot1q},
    {"qinq", &mix_weights::qinq},
    {"pppoe", &mix_weights::pppoe},
    {"mpls", &mix_weights::mpls},
}};

// kind=weight; the kind "all" sets the weight of every kind a mix has by
// default, so that "-w all=0 -w tcp=1" makes a capture of one kind.
bool read_weight(std::string_view text, mix_weights& weights) {
    const auto equals = text.find('=');
    if (equals == std::string_view::npos) {
        return complain("-w", "expected kind=weight", text);
    }
    const std::string_view name = text.substr(0, equals);
    unsigned weight = 0;
    if (!read_number("-w", text.substr(equals + 1), 0, 1000000, weight)) {
        return false;
    }
    for (std::size_t i = 0; i < weight_names.size(); ++i) {
        if ((name == "all" && i < default_kinds) || name == weight_names[i].name) {
            weights.*weight_names[i].weight = weight;
        }
    }
    if (name == "all") {
        return true;
    }
    for (const weight_name& w : weight_names) {
        if (name == w.name) {
            return true;
        }
    }
    return complain("-w", "unknown kind (see -h)", name);
}

struct link_name {
    std::string_view name;
    int datalink;
};

// DLT_RAW is libpcap's number for raw IP on this system; the file says 101.
constexpr std::array<link_name, 10> link_names = {{
    {"null", 0},
    {"ether", 1},
    {"ppp", 9},
    {"raw", DLT_RAW},
    {"ppp-serial", 50},
    {"loop", 108},
    {"sll", 113},
    {"ipv4", 228},
    {"ipv6", 229},
    {"sll2", 276},
}};

bool read_link(std::string_view text, int& datalink) {
    for (const link_name& l : link_names) {
        if (text == l.name) {
            datalink = l.datalink;
            return true;
        }
    }
    return complain("-l", "expected null, ether, ppp, ppp-serial, loop, sll, sll2, raw, ipv4 or ipv6",
                    text);
}

bool read_format(std::string_view text, capture_format& format) {
    if (text == "pcap") {
        format = capture_format::pcap;
    } else if (text == "snoop") {
        format = capture_format::snoop;
    } else {
        return complain("-F", "expected pcap or snoop", text);
    }
    return true;
}

enum long_option {
    min_length_option = 1000,
    max_length_option,
    ipv6_hosts_option,
    vary_framing_option,
    cut_frames_option,
    start_option,
    rate_option,
    pause_option,
    burst_option
};

// "EVERY:AMOUNT", two numbers; AMOUNT may have decimals when fractional is set
// (and is then returned in millionths).
bool read_pair(const char* name, std::string_view text, bool fractional, std::uint64_t& every,
               std::int64_t& amount) {
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos ||
        !read_number(name, text.substr(0, colon), 1, UINT64_MAX, every)) {
        return complain(name, "expected EVERY:AMOUNT", text);
    }
    const std::string rest(text.substr(colon + 1));
    char* end = nullptr;
    const double value = std::strtod(rest.c_str(), &end);
    if (rest.empty() || *end != '\0' || !(value >= 0 && value <= 1e9)) {
        return complain(name, "expected EVERY:AMOUNT", text);
    }
    amount = static_cast<std::int64_t>(fractional ? value * 1e6 + 0.5 : value);
    return true;
}

bool read_option(int option, std::string_view arg, gen_options& out) {
    mix_options& mix = out.mix;
    switch (option) {
    case 'o':
        if (arg.empty()) {
            return complain("-o", "empty file name", arg);
        }
        out.output_path = arg;
        return true;
    case 'R':
        if (arg.empty()) {
            return complain("-R", "empty file name", arg);
        }
        out.facts_path = arg;
        return true;
    case 'F':
        return read_format(arg, out.format);
    case 'l':
        return read_link(arg, mix.datalink);
    case 'n':
        return read_number("-n", arg, 0, UINT64_MAX, mix.frames);
    case 's':
        return read_number("-s", arg, 1, 262144, mix.snap_length);
    case 'S':
        return read_number("-S", arg, 0, UINT32_MAX, mix.seed);
    case 'H':
        return read_number("-H", arg, 1, 1000000, mix.hosts);
    case 'P':
        return read_number("-P", arg, 1, 65535, mix.ports);
    case 'z':
        return read_skew(arg, mix.skew);
    case 'w':
        return read_weight(arg, mix.weights);
    case min_length_option:
        return read_number("--min-len", arg, 0, 65535, mix.min_length);
    case max_length_option:
        return read_number("--max-len", arg, 0, 65535, mix.max_length);
    case ipv6_hosts_option:
        return read_number("--ipv6-hosts", arg, 1, 1000000, mix.ipv6_hosts);
    case vary_framing_option:
        mix.vary_framing = true;
        return true;
    case cut_frames_option:
        mix.cut_frames = true;
        return true;
    case start_option:
        return read_number("--start", arg, 0, 4000000000, mix.start_seconds);
    case rate_option:
        return read_number("--rate", arg, 1, 1000000, mix.rate);
    case pause_option:
        return read_pair("--pause", arg, true, mix.pause_every, mix.pause_microseconds);
    case burst_option: {
        std::int64_t frames = 0;
        if (!read_pair("--burst", arg, false, mix.burst_every, frames)) {
            return false;
        }
        mix.burst_frames = static_cast<std::uint64_t>(frames);
        return true;
    }
    case 'h':
        out.help = true;
        return true;
    default:  // getopt has already named the fault
        return false;
    }
}

bool check_combination(const gen_options& out) {
    if (out.output_path.empty()) {
        std::fprintf(stderr, "%s: no output file: give -o FILE (or -o - for standard output)\n",
                     program);
        return false;
    }
    if (out.mix.min_length > out.mix.max_length) {
        std::fprintf(stderr, "%s: --min-len %u is above --max-len %u\n", program,
                     out.mix.min_length, out.mix.max_length);
        return false;
    }
    if (out.format == capture_format::snoop && out.mix.datalink != 1) {
        std::fprintf(stderr, "%s: snoop files hold Ethernet only: use -l ether with -F snoop\n",
                     program);
        return false;
    }
    if (!out.facts_path.empty() && out.facts_path == out.output_path) {
        std::fprintf(stderr, "%s: -R and -o name the same file\n", program);
        return false;
    }
    return true;
}

}  // namespace

std::optional<gen_options> parse_gen_options(int argc, char** argv) {
    static const option long_options[] = {
        {"min-len", required_argument, nullptr, min_length_option},
        {"max-len", required_argument, nullptr, max_length_option},
        {"ipv6-hosts", required_argument, nullptr, ipv6_hosts_option},
        {"vary-framing", no_argument, nullptr, vary_framing_option},
        {"cut-frames", no_argument, nullptr, cut_frames_option},
        {"start", required_argument, nullptr, start_option},
        {"rate", required_argument, nullptr, rate_option},
        {"pause", required_argument, nullptr, pause_option},
        {"burst", required_argument, nullptr, burst_option},
        {"help", no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };
    gen_options out;
    optind = 1;
    int option = 0;
    while ((option = getopt_long(argc, argv, "o:R:F:l:n:s:S:H:P:z:w:h", long_options, nullptr)) !=
           -1) {
        if (!read_option(option, optarg != nullptr ? optarg : "", out)) {
            return std::nullopt;
        }
    }
    if (optind < argc) {
        std::fprintf(stderr, "%s: unexpected argument '%s'\n", program, argv[optind]);
        return std::nullopt;
    }
    if (out.help) {
        return out;
    }
    if (!check_combination(out)) {
        return std::nullopt;
    }
    return out;
}

void print_gen_usage(std::FILE* out) {
    std::fputs(
        "Usage: tallywire-gen -o FILE [options]\n"
        "Writes a capture file of generated traffic, the same for the same options.\n"
        "\n"
        "  -o FILE          capture file to write (- for standard output)\n"
        "  -F pcap|snoop    file format (default pcap; snoop needs -l ether)\n"
        "  -n FRAMES        number of frames (default 1000)\n"
        "  -l LINK          link layer (default ether): null ether ppp ppp-serial loop\n"
        "                   sll sll2 (Linux cooked) raw ipv4 ipv6 (raw IP)\n"
        "  -s SNAPLEN       bytes kept of each frame, 1..262144 (default 65535)\n"
        "  -S SEED          random seed (default 1)\n"
        "  -H HOSTS         distinct IPv4 hosts, 1..1000000 (default 256)\n"
        "  --ipv6-hosts N   distinct IPv6 hosts of the kinds below that draw them\n"
        "                   (default: as many as -H)\n"
        "  -P PORTS         distinct TCP/UDP ports, 1..65535 (default 64)\n"
        "  -z SKEW          Zipf exponent of host and port popularity, 0 = uniform (default 1)\n"
        "  -w KIND=WEIGHT   relative weight of a kind of frame; repeatable. Kinds:\n"
        "                   tcp udp icmp options fragment ipv6 (every link),\n"
        "                   arp revarp ipx appletalk aarp vlan 8023 (Ethernet, Linux cooked),\n"
        "                   other (PPP control protocols, other null and loop families,\n"
        "                   raw packets of other versions),\n"
        "                   all (every kind above at once);\n"
        "                   off unless named (packets drawn by the weights above):\n"
        "                   ipv6-ext (extension headers, fragments; every IPv6 link),\n"
        "                   dot1q qinq pppoe (Ethernet, Linux cooked),\n"
        "                   mpls (Ethernet, Linux cooked, PPP)\n"
        "  --min-len N      shortest wire length (default 60)\n"
        "  --max-len N      longest wire length, at most 65535 (default 1514)\n"
        "  --vary-framing   PPP with and without FF 03 and with one-byte protocols;\n"
        "                   null and loop family words of either byte order, IPv6 as\n"
        "                   24, 28 or 30\n"
        "  --cut-frames     half the frames kept to 1..128 bytes at random (within the\n"
        "                   snap length), so that captures end inside every header\n"
        "  --start SECONDS  the first frame's time, seconds since 1970 (default 1700000000)\n"
        "  --rate FPS       mean frames per second, gaps drawn evenly (default 1000)\n"
        "  --pause N:SECS   before every Nth frame the clock also stands still SECS\n"
        "                   seconds (decimals allowed): quiet spells\n"
        "  --burst N:M      of every N frames the first M come at once: bursts\n"
        "  -R FILE          also write the fact record: one tab-separated line per frame\n"
        "                   (the last two columns: seconds and microseconds)\n"
        "  -h, --help       this text\n"
        "\n"
        "Exit status: 0 written, 1 bad arguments or a failed write.\n",
        out);
}

}  // namespace twgen
