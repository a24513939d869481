#include "cli/usage.h"

#include <sys/stat.h>

#include <cstdio>
#include <string>

namespace tallywire {

namespace {

// First %s: the program's base name; second %s: its path as typed.
constexpr const char* usage_format =
    "Usage: %s [-?hnpR] [-f filter expr] [-i interface] [-P port]\t\t\n"
    "\t\t[-r file] [-s seconds] [-S letters] [-t lines]\t\t\n"
    "\t-?, -h \t\t- display this help\t\t\t\t\n"
    "\t-d\t\t- show source/dest statistics\t\t\t\n"
    "\t-f filter expr\t- tcpdump(1) filter expression\t\t\t\n"
    "\t-i interface\t- do live capture on [interface], not from file \n"
    "\t-n\t\t- don't resolve network numbers\t\t\t\n"
    "\t-p\t\t- non-promiscuous mode when doing live capture\t\n"
    "\t-P port\t\t- ignore port numbers >= port\t\t\t\n"
    "\t-r file\t\t- read tcpdump data from file\t\t\t\n"
    "\t-R\t\t- display only registered ports\t\t\t\n"
    "\t-s seconds\t- capture only [seconds] long\t\t\t\n"
    "\t-S letters\t- collect stats\t\t\t\t\t\n"
    "\t\ta\t\t- collect ALL stats\t\t\t\n"
    "\t\tl\t\t- collect link stats\t\t\t\n"
    "\t\ti\t\t- collect ip stats\t\t\t\n"
    "\t\tp\t\t- collect port stats\t\t\t\n"
    "\t\th\t\t- collect host stats\t\t\t\n"
    "\t\tn\t\t- collect network stats\t\t\t\n"
    "\t-t lines\t- show at most [lines] lines for each stat\t\n"
    "\t\t\t\t\t\t\t\t\t\n"
    "Example: %s -S ph -r data.dump\t\t\t\t\t\n"
    "\tDisplays port and host statistics from the file 'data.dump'\t\n";

// What --help adds after the usage text: the long options, each with an
// example of its own.
constexpr const char* long_options_text =
    "Long options:\n"
    "\t--help\t\t- display this help on standard output and exit\n"
    "\t--version\t- display the version and exit\n"
    "\t--look-through\t- classify frames through VLAN tags, PPPoE and MPLS,\n"
    "\t\t\t  and Linux cooked, raw IP, loopback and PPP serial captures\n"
    "\t--ipv6\t\t- count IPv6 packets in the port, host and network stats\n"
    "\t\t\t  and IPv6 under the protocol after its extension headers\n"
    "\t--format=FORMAT\t- write the report as text (the default), csv or json\n"
    "\t--merge=FILE\t- add up the JSON reports in FILE (- for standard input)\n"
    "\t\t\t  instead of reading a capture, and report the sum\n"
    "\t--threads=N\t- count a file's frames on N threads (default 1)\n"
    "\t--interval=D\t- a report per interval of length D (500ms, 10s, 5m, 1h),\n"
    "\t\t\t  aligned to multiples of D since 1970 in UTC\n"
    "Exit status: 0 done; 1 usage, a failed source or a refused merge;\n"
    "\t2 the report covers only the frames before a read error\n"
    "Examples: %s --look-through -S l -i any\n"
    "\t  %s --ipv6 -S ph -n -r data.dump\n"
    "\t  %s -n -S a --format=json -r a.pcap > a.json\n"
    "\t  cat a.json b.json | %s --merge=- -S a -t 20\n"
    "\t  %s -n -S a --interval=10 --format=json -i eth0 | consumer\n";

void write_usage(std::FILE* out, const char* program_path) {
    const std::string base(base_name(program_path));
    std::fprintf(out, usage_format, base.c_str(), program_path);
}

}  // namespace

std::string_view base_name(std::string_view path) {
    if (path.size() < 2) {
        return path;
    }
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

int print_usage(int status, const char* program_path) {
    write_usage(stderr, program_path);
    return status;
}

void print_help(const char* program_path) {
    write_usage(stdout, program_path);
    std::fprintf(stdout, long_options_text, program_path, program_path, program_path,
                 program_path, program_path);
}

void print_version() { std::printf("tallywire %s\n", TALLYWIRE_VERSION); }

void warn_ignored_words(const char* program_path, std::string_view first_ignored) {
    const std::string word(first_ignored);
    struct stat status {};
    const bool names_a_file = stat(word.c_str(), &status) == 0;
    std::fprintf(stderr, "%s: '%s' and the words after it are ignored%s\n",
                 std::string(base_name(program_path)).c_str(), word.c_str(),
                 names_a_file ? "; -r reads a file, one per run" : "");
}

}  // namespace tallywire
