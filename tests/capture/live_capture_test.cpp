// Live captures between two network namespaces that the test creates and
// removes itself, joined by a veth pair, with IPv6 off so that the link
// carries only what the test sends. Traffic goes only to the peer address
// inside the pair (TEST-NET-1).

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <algorithm>
#include <ctime>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "capture/capture_state.h"
#include "capture/frame_view.h"
#include "capture/report_total.h"
#include "capture/sources.h"
#include "report/report_text.h"
#include "support/background_run.h"
#include "support/json_lines.h"
#include "support/process.h"
#include "support/terminal.h"

using namespace tallywire;

namespace {

using twtest::member_text;

using steady = std::chrono::steady_clock;
using namespace std::chrono_literals;

double seconds_since(steady::time_point start) {
    return std::chrono::duration<double>(steady::now() - start).count();
}

std::string ip_command() {
    for (const char* path : {"/usr/sbin/ip", "/sbin/ip", "/usr/bin/ip", "/bin/ip"}) {
        if (access(path, X_OK) == 0) {
            return path;
        }
    }
    return "";
}

bool run_ip(const std::vector<std::string>& args, std::string* err = nullptr) {
    const twtest::run_result run = twtest::run_program(ip_command(), args);
    if (err != nullptr) {
        *err = run.err;
    }
    return run.status == 0;
}

// Moves the calling (single-threaded) process into the named namespace.
bool enter_namespace(const std::string& ns) {
    const int fd = open(("/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
    const bool entered = fd >= 0 && setns(fd, CLONE_NEWNET) == 0;
    if (fd >= 0) {
        close(fd);
    }
    return entered;
}

// The child's exit status, or -1 when it did not exit.
int exit_code_of(pid_t child) {
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs work in a child that has entered the named network namespace;
// true when it returned true.
bool in_namespace(const std::string& ns, const std::function<bool()>& work) {
    const pid_t child = fork();
    if (child < 0) {
        return false;
    }
    if (child == 0) {
        _exit(enter_namespace(ns) && work() ? 0 : 1);
    }
    return exit_code_of(child) == 0;
}

bool write_proc(const char* path, const char* value) {
    std::ofstream out(path);
    out << value;
    out.close();
    return static_cast<bool>(out);
}

// IPv6 on, with addresses usable at once: no duplicate address detection
// and no router solicitations.
bool without_address_detection() {
    return write_proc("/proc/sys/net/ipv6/conf/all/accept_dad", "0") &&
           write_proc("/proc/sys/net/ipv6/conf/default/accept_dad", "0") &&
           write_proc("/proc/sys/net/ipv6/conf/default/router_solicitations", "0");
}

// Keeps the namespace quiet: no IPv6 link-local address, router or
// listener traffic on any link that comes up in it.
bool switch_off_ipv6() {
    return write_proc("/proc/sys/net/ipv6/conf/all/disable_ipv6", "1") &&
           write_proc("/proc/sys/net/ipv6/conf/default/disable_ipv6", "1");
}

constexpr const char* address_a = "192.0.2.1";
constexpr const char* address_b = "192.0.2.2";
constexpr const char* address6_a = "2001:db8:53::1";
constexpr const char* address6_b = "2001:db8:53::2";
constexpr const char* mac_a = "02:00:5e:00:53:01";
constexpr const char* mac_b = "02:00:5e:00:53:02";

// Two namespaces with one veth pair between them, removed with everything
// in them when the object goes. Names carry the pid, so parallel runs and
// leftovers of a killed run do not collide.
class namespace_pair {
public:
    // with_ipv6: static IPv6 addresses beside the IPv4 ones, without
    // duplicate address detection, for the tests that count IPv6.
    explicit namespace_pair(bool with_ipv6 = false) : with_ipv6_(with_ipv6) {
        const std::string id = std::to_string(getpid());
        ns_a = "twfa" + id;
        ns_b = "twfb" + id;
        link_a = "twva" + id;
        link_b = "twvb" + id;
    }
    ~namespace_pair() {
        for (const std::string& ns : created_) {
            run_ip({"netns", "del", ns});
        }
    }
    namespace_pair(const namespace_pair&) = delete;
    namespace_pair& operator=(const namespace_pair&) = delete;

    // Empty on success, else why the pair cannot be built.
    std::string build() {
        if (ip_command().empty()) {
            return "the ip command (iproute2) is not installed";
        }
        std::string err;
        for (const std::string& ns : {ns_a, ns_b}) {
            if (!run_ip({"netns", "add", ns}, &err)) {
                return "cannot create network namespaces (needs root): " + err;
            }
            created_.push_back(ns);
            if (!in_namespace(ns, with_ipv6_ ? without_address_detection : switch_off_ipv6)) {
                return "cannot set IPv6 up in namespace " + ns;
            }
        }
        std::vector<std::vector<std::string>> steps = {
            {"link", "add", link_a, "address", mac_a, "netns", ns_a, "type", "veth", "peer", "name",
             link_b, "address", mac_b, "netns", ns_b},
            {"-n", ns_a, "addr", "add", std::string(address_a) + "/24", "dev", link_a},
            {"-n", ns_b, "addr", "add", std::string(address_b) + "/24", "dev", link_b},
            // Fixed neighbours: no ARP on the link, only the test's datagrams.
            {"-n", ns_a, "neigh", "replace", address_b, "lladdr", mac_b, "dev", link_a, "nud",
             "permanent"},
            {"-n", ns_b, "neigh", "replace", address_a, "lladdr", mac_a, "dev", link_b, "nud",
             "permanent"},
            {"-n", ns_a, "link", "set", link_a, "up"},
            {"-n", ns_b, "link", "set", link_b, "up"},
        };
        if (with_ipv6_) {
            steps.insert(steps.end(),
                         {{"-n", ns_a, "addr", "add", std::string(address6_a) + "/64", "dev",
                           link_a, "nodad"},
                          {"-n", ns_b, "addr", "add", std::string(address6_b) + "/64", "dev",
                           link_b, "nodad"},
                          {"-n", ns_a, "neigh", "replace", address6_b, "lladdr", mac_b, "dev",
                           link_a, "nud", "permanent"},
                          {"-n", ns_b, "neigh", "replace", address6_a, "lladdr", mac_a, "dev",
                           link_b, "nud", "permanent"}});
        }
        for (const auto& step : steps) {
            if (!run_ip(step, &err)) {
                return "ip " + step[0] + " " + step[1] + " failed: " + err;
            }
        }
        // The capture library lists a link without carrier after the
        // "any" device; the default-device test needs it first.
        const steady::time_point start = steady::now();
        while (seconds_since(start) < 10) {
            const twtest::run_result show =
                twtest::run_program(ip_command(), {"-n", ns_b, "link", "show", "dev", link_b});
            if (show.out.find("LOWER_UP") != std::string::npos) {
                return "";
            }
            std::this_thread::sleep_for(20ms);
        }
        return "the veth pair did not come up";
    }

    std::string ns_a, ns_b, link_a, link_b;

private:
    bool with_ipv6_;
    std::vector<std::string> created_;
};

// Sends count UDP datagrams of size bytes from namespace ns to the peer's
// port, over IPv4 or IPv6 (family), from source_port (0: any).
bool send_udp(const std::string& ns, int family, int count, std::uint16_t port,
              std::uint16_t source_port, std::size_t size) {
    return in_namespace(ns, [=] {
        const int fd = socket(family, SOCK_DGRAM, 0);
        if (fd < 0) {
            return false;
        }
        sockaddr_storage self{};
        sockaddr_storage peer{};
        socklen_t length = 0;
        if (family == AF_INET6) {
            auto& from = reinterpret_cast<sockaddr_in6&>(self);
            auto& to = reinterpret_cast<sockaddr_in6&>(peer);
            from.sin6_family = to.sin6_family = AF_INET6;
            from.sin6_port = htons(source_port);
            to.sin6_port = htons(port);
            inet_pton(AF_INET6, address6_b, &to.sin6_addr);
            length = sizeof(sockaddr_in6);
        } else {
            auto& from = reinterpret_cast<sockaddr_in&>(self);
            auto& to = reinterpret_cast<sockaddr_in&>(peer);
            from.sin_family = to.sin_family = AF_INET;
            from.sin_port = htons(source_port);
            to.sin_port = htons(port);
            inet_pton(AF_INET, address_b, &to.sin_addr);
            length = sizeof(sockaddr_in);
        }
        const std::vector<char> payload(size, 't');
        bool sent = bind(fd, reinterpret_cast<const sockaddr*>(&self), length) == 0;
        for (int i = 0; i < count; ++i) {
            sent = sent && sendto(fd, payload.data(), payload.size(), 0,
                                  reinterpret_cast<const sockaddr*>(&peer),
                                  length) == static_cast<ssize_t>(payload.size());
        }
        close(fd);
        return sent;
    });
}

// Sends count UDP datagrams of size bytes from namespace ns to the peer's
// port.
bool send_datagrams(const std::string& ns, int count, std::uint16_t port, std::size_t size = 24) {
    return send_udp(ns, AF_INET, count, port, 0, size);
}

std::string read_text(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// True once the process sits in the capture library's wait for frames
// (the interface is open and the filter installed); comm names the program
// that must be running under pid by then.
bool wait_until_polling(pid_t pid, const std::string& comm, double bound_seconds) {
    const std::string proc = "/proc/" + std::to_string(pid);
    const steady::time_point start = steady::now();
    while (seconds_since(start) < bound_seconds) {
        if (read_text(proc + "/comm") == comm) {
            long number = -1;
            std::istringstream(read_text(proc + "/syscall")) >> number;
            if (number == SYS_poll || number == SYS_ppoll) {
                return true;
            }
        }
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

// tallywire running inside a namespace, its output going to files; killed
// if it is still running when the object goes.
class background_capture : public twtest::background_run {
public:
    background_capture(const std::string& ns, const std::vector<std::string>& args)
        : background_run(words_for(ns, args)) {}

    bool wait_until_capturing(double bound_seconds) const {
        return wait_until_polling(pid(), "tallywire\n", bound_seconds);
    }

private:
    // ip netns exec replaces itself with tallywire: the pid stays.
    static std::vector<std::string> words_for(const std::string& ns,
                                              const std::vector<std::string>& args) {
        std::vector<std::string> words = {ip_command(), "netns", "exec", ns,
                                          twtest::tallywire_path()};
        words.insert(words.end(), args.begin(), args.end());
        return words;
    }
};

// A run that hangs is ended after this long and fails its test.
constexpr double hang_bound = 30;
constexpr int counted = 25;

class LiveCapture : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string why = pair_.build();
        if (!why.empty()) {
            GTEST_SKIP() << why;
        }
    }

    namespace_pair pair_;
};

// Datagrams from the peer namespace, and others that the filter leaves out.
TEST_F(LiveCapture, FilterCountsThePeersDatagrams) {
    background_capture capture(pair_.ns_b, {"-i", pair_.link_b, "-f", "udp port 9999"});
    ASSERT_TRUE(capture.wait_until_capturing(hang_bound));
    ASSERT_TRUE(send_datagrams(pair_.ns_a, counted, 9999));
    ASSERT_TRUE(send_datagrams(pair_.ns_a, 10, 9998));
    // Let the library hand over the block it holds (its 100 ms timeout).
    std::this_thread::sleep_for(500ms);
    capture.signal(SIGINT);
    const twtest::run_result run = capture.finish(hang_bound);
    EXPECT_FALSE(run.timed_out);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    // Each frame: Ethernet, IPv4 and UDP headers and the 24-byte payload.
    EXPECT_EQ(twtest::total_row(run.out), (twtest::total_counts{counted, counted * 66})) << run.out;
}

// The time limit ends a capture on a link without traffic, and the run
// then completes.
TEST_F(LiveCapture, TimeLimitEndsTheCapture) {
    background_capture capture(pair_.ns_b, {"-i", pair_.link_b, "-p", "-s", "2"});
    const twtest::run_result run = capture.finish(hang_bound);
    EXPECT_FALSE(run.timed_out);
    EXPECT_EQ(run.status, 0) << run.err;
    // Not before the limit; the upper bound is loose, since a loaded machine
    // (a parallel test run) may start or reap the process late: it only
    // tells an ended capture from one that would run until it is killed.
    EXPECT_GE(capture.run_seconds(), 2.0);
    EXPECT_LE(capture.run_seconds(), 10.0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "No packets processed.\n");
}

// A limit far below a microsecond still arms the timer (for 1 µs): the
// capture ends at once instead of never.
TEST_F(LiveCapture, TinyTimeLimitStillEndsTheCapture) {
    for (const char* limit : {"0.0000004", "1e-300"}) {
        background_capture capture(pair_.ns_b, {"-i", pair_.link_b, "-s", limit});
        const twtest::run_result run = capture.finish(hang_bound);
        EXPECT_FALSE(run.timed_out) << limit;
        EXPECT_EQ(run.status, 0) << limit << ": " << run.err;
    }
}

// SIGINT ends a capture that is waiting for frames that do not come.
TEST_F(LiveCapture, InterruptEndsTheCapture) {
    background_capture capture(pair_.ns_b, {"-i", pair_.link_b});
    ASSERT_TRUE(capture.wait_until_capturing(hang_bound));
    const steady::time_point signalled = steady::now();
    capture.signal(SIGINT);
    const twtest::run_result run = capture.finish(hang_bound);
    EXPECT_FALSE(run.timed_out);
    EXPECT_EQ(run.status, 0) << run.err;
    // Loose, as above: it tells a stop from a capture left waiting.
    EXPECT_LE(std::chrono::duration<double>(capture.ended() - signalled).count(), 10.0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "No packets processed.\n");
}

// Without a source, or with the word auto, the capture library's default
// device is taken: here the veth, the only link with carrier.
TEST_F(LiveCapture, DefaultDeviceForAutoAndForNoSource) {
    for (const auto& words :
         {std::vector<std::string>{"-s", "2", "-f", "udp port 9999"},
          std::vector<std::string>{"-i", "auto", "-s", "2", "-f", "udp port 9999"}}) {
        background_capture capture(pair_.ns_b, words);
        ASSERT_TRUE(capture.wait_until_capturing(hang_bound));
        ASSERT_TRUE(send_datagrams(pair_.ns_a, 3, 9999));
        const twtest::run_result run = capture.finish(hang_bound);
        EXPECT_FALSE(run.timed_out);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, "Listening on " + pair_.link_b + "\n");
        EXPECT_EQ(twtest::total_row(run.out), (twtest::total_counts{3, 3 * 66})) << run.out;
    }
}

struct live_frames {
    int frames = 0;
    int as_sent = 0;
};

constexpr std::size_t live_payload = 200;

void count_live_frame(const frame_view& frame, void* sink_arg) {
    auto& seen = *static_cast<live_frames*>(sink_arg);
    ++seen.frames;
    // The wire length is the whole frame; the 68-byte snapshot keeps 54
    // bytes past the Ethernet header.
    const bool as_sent = frame.link_code == 258 &&
                         frame.wire_length == 14 + 20 + 8 + live_payload &&
                         frame.captured.size() == 54 && transport_protocol(frame) == 17;
    seen.as_sent += as_sent ? 1 : 0;
}

// Runs the live source on the capturing side in a child that has entered
// its namespace, with a counting sink, and sends what send() sends once it
// is capturing; returns the child's exit code, which exit_code(result,
// seen) gives (253 when the namespace cannot be entered), or -1 when it
// never got to capture or send() failed.
template <class exit_code_type, class send_type>
int capture_in_child(const namespace_pair& pair, double seconds, exit_code_type exit_code,
                     send_type send) {
    const std::string self = read_text("/proc/self/comm");
    const pid_t child = fork();
    if (child < 0) {
        return -1;
    }
    if (child == 0) {
        if (!enter_namespace(pair.ns_b)) {
            _exit(253);
        }
        live_frames seen;
        run_config live;
        live.source_name = pair.link_b;
        live.filter_expression = "udp port 9999";
        live.mode.live = true;
        live.capture_seconds = seconds;
        const int result = run_pcap_source(live, count_live_frame, &seen);
        _exit(exit_code(result, seen));
    }
    const bool capturing = wait_until_polling(child, self, hang_bound);
    const bool sent = capturing && send();
    if (!capturing) {
        kill(child, SIGKILL);
    }
    const int code = exit_code_of(child);
    return capturing && sent ? code : -1;
}

// The frames themselves, as the capture library hands them to the decoder:
// a child in the capturing namespace runs the source with a counting sink
// and exits with the number of frames that arrived as they were sent.
TEST_F(LiveCapture, FramesReachTheSinkWithTheSnapshotLength) {
    const int frames = capture_in_child(
        pair_, 3.0,
        [](int result, const live_frames& seen) {
            return result != 0 ? 254 : seen.frames != seen.as_sent ? 255 : seen.frames;
        },
        [&] {
            return send_datagrams(pair_.ns_a, counted, 9999, live_payload) &&
                   send_datagrams(pair_.ns_a, 7, 9998, live_payload);
        });
    EXPECT_EQ(frames, counted) << "-1: not capturing or not sent, 253: no namespace, 254: the "
                                  "source failed, 255: a frame arrived other than it was sent";
}

// A capture stopped while the peer sends far more than the capture
// library's buffer holds: the kernel drops the rest, and a line after the
// report says how many and that the counts are short by as many.
TEST_F(LiveCapture, DroppedFramesAreNamedAfterTheReport) {
    constexpr int flood = 100000;
    background_capture capture(pair_.ns_b, {"-i", pair_.link_b, "-f", "udp port 9999"});
    ASSERT_TRUE(capture.wait_until_capturing(hang_bound));
    capture.signal(SIGSTOP);
    const bool sent = send_datagrams(pair_.ns_a, flood, 9999);
    capture.signal(SIGCONT);
    ASSERT_TRUE(sent);
    std::this_thread::sleep_for(500ms);
    capture.signal(SIGINT);
    const twtest::run_result run = capture.finish(hang_bound);
    EXPECT_FALSE(run.timed_out);
    EXPECT_EQ(run.status, 0) << run.err;

    const auto total = twtest::total_row(run.out);
    ASSERT_TRUE(total) << run.out;
    unsigned long long dropped = 0, by_kernel = 0, by_interface = 0;
    int end = 0;
    ASSERT_EQ(std::sscanf(run.err.c_str(),
                          "tallywire: %llu frames dropped (%llu by the kernel, %llu by the "
                          "interface): the counts are short by that many\n%n",
                          &dropped, &by_kernel, &by_interface, &end),
              3)
        << run.err;
    EXPECT_EQ(static_cast<std::size_t>(end), run.err.size()) << run.err;
    EXPECT_GT(by_kernel, 0u);
    EXPECT_EQ(dropped, by_kernel + by_interface);
    EXPECT_LE(total->packets + by_kernel, static_cast<unsigned long long>(flood));
}

// A capture that lost nothing: libpcap's figures were asked for, and they
// are zero.
// The wall clock in microseconds since the epoch.
std::int64_t wall_microseconds() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Sleeps until the wall clock is half a second into a second, and returns
// that second: frames sent then lie well inside its interval.
std::int64_t wait_for_middle_of_a_second() {
    const std::int64_t now = wall_microseconds();
    std::int64_t target = (now / 1'000'000) * 1'000'000 + 500'000;
    if (target < now + 50'000) {
        target += 1'000'000;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(target - now));
    return target / 1'000'000;
}

std::string iso_second(std::int64_t second) {
    const time_t at = static_cast<time_t>(second);
    tm parts{};
    gmtime_r(&at, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

// What the process's standard output file holds so far.
std::string output_so_far(pid_t pid) {
    return read_text("/proc/" + std::to_string(pid) + "/fd/1");
}

std::size_t line_count(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

// A monitor: one JSON document per second, written while the capture
// runs, every second present (quiet ones too), each counting exactly the
// datagrams sent within it, and the last one, cut by SIGINT, partial.
TEST_F(LiveCapture, IntervalsAreWrittenAsTheyEndAndTheLastIsPartial) {
    background_capture capture(pair_.ns_b, {"-i", pair_.link_b, "-n", "--interval=1",
                                            "--format=json", "-f", "udp port 9999"});
    ASSERT_TRUE(capture.wait_until_capturing(hang_bound));
    std::map<std::int64_t, int> sent;  // second -> datagrams
    for (int burst = 1; burst <= 4; ++burst) {
        const std::int64_t second = wait_for_middle_of_a_second();
        if (burst == 3) {
            continue;  // a quiet second
        }
        ASSERT_TRUE(send_datagrams(pair_.ns_a, burst, 9999));
        sent[second] = burst;
    }
    // The first seconds' documents are there before the capture ends.
    const std::int64_t stop = wait_for_middle_of_a_second();
    EXPECT_GE(line_count(output_so_far(capture.pid())), 3u) << output_so_far(capture.pid());
    capture.signal(SIGINT);
    const twtest::run_result run = capture.finish(hang_bound);
    EXPECT_FALSE(run.timed_out);
    ASSERT_EQ(run.status, 0) << run.err;

    std::istringstream lines(run.out);
    std::string line;
    std::vector<std::string> documents;
    while (std::getline(lines, line)) {
        documents.push_back(line);
    }
    ASSERT_GE(documents.size(), 5u) << run.out;
    std::string previous_end;
    std::map<std::int64_t, int> counted_in;
    for (std::size_t at = 0; at < documents.size(); ++at) {
        const std::string& document = documents[at];
        const std::string start = member_text(document, "start");
        if (!previous_end.empty()) {
            EXPECT_EQ(start, previous_end) << "an interval missing before " << document;
        }
        previous_end = member_text(document, "end");
        const bool last = at + 1 == documents.size();
        EXPECT_EQ(member_text(document, "partial"), last ? "true" : "false") << document;
        for (std::int64_t second = stop - 8; second <= stop; ++second) {
            if (start == "\"" + iso_second(second) + "\"") {
                counted_in[second] = std::stoi(member_text(document, "packets"));
            }
        }
    }
    EXPECT_EQ(member_text(documents.back(), "start"), "\"" + iso_second(stop) + "\"");
    for (const auto& [second, datagrams] : sent) {
        EXPECT_EQ(counted_in[second], datagrams) << iso_second(second);
    }
    for (const auto& [second, packets] : counted_in) {
        if (sent.count(second) == 0) {
            EXPECT_EQ(packets, 0) << iso_second(second);
        }
    }
}

// The resident memory of a process, in KiB.
long resident_kib(pid_t pid) {
    std::istringstream status(read_text("/proc/" + std::to_string(pid) + "/status"));
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

// A monitor runs for as long as it is left to: after 10,000 intervals it
// holds no more memory than after the first few.
TEST_F(LiveCapture, MemoryStaysFlatOverTenThousandIntervals) {
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "AddressSanitizer keeps freed memory in quarantine: the resident size "
                    "says nothing about what the program holds";
#endif
    // Without transparent huge pages for the run (the setting passes through
    // fork and exec): the tables' slots would otherwise come back 2 MiB at
    // a time or in small pages, as the kernel happens to find them, and the
    // resident size would jump whatever the program holds.
    ASSERT_EQ(prctl(PR_SET_THP_DISABLE, 1, 0, 0, 0), 0);
    struct huge_pages_back {
        ~huge_pages_back() { prctl(PR_SET_THP_DISABLE, 0, 0, 0, 0); }
    } restore;
    background_capture capture(pair_.ns_b, {"-i", pair_.link_b, "-n", "-S", "a",
                                            "--interval=1ms", "-f", "udp port 9999"});
    ASSERT_TRUE(capture.wait_until_capturing(hang_bound));
    // Intervals written, and those of them that counted frames.
    const auto written = [&](const char* mark) {
        const std::string out = output_so_far(capture.pid());
        std::size_t count = 0;
        for (std::size_t at = out.find(mark); at != std::string::npos; at = out.find(mark, at + 1)) {
            ++count;
        }
        return count;
    };
    // Traffic every 50 ms, the same keys every time: what grows with new
    // keys is the keys' memory, not the intervals'.
    const auto run_until = [&](const char* mark, std::size_t count) {
        const steady::time_point start = steady::now();
        while (written(mark) < count && seconds_since(start) < 120) {
            ASSERT_TRUE(send_udp(pair_.ns_a, AF_INET, 3, 9999, 40000, 24));
            std::this_thread::sleep_for(50ms);
        }
    };
    // The first intervals with frames have made the tables' entries.
    run_until("Total Statistics", 2);
    const std::size_t before = written("Interval ");
    run_until("Interval ", before + 10);
    const long early = resident_kib(capture.pid());
    run_until("Interval ", before + 10'010);
    const long late = resident_kib(capture.pid());
    capture.signal(SIGINT);
    const twtest::run_result run = capture.finish(hang_bound);
    ASSERT_EQ(run.status, 0) << run.err;
    ASSERT_GE(std::count(run.out.begin(), run.out.end(), 'I'), 10'010);
    EXPECT_GT(early, 0);
    EXPECT_EQ(late, early) << "KiB resident after 10 intervals and after 10,000";
}

TEST_F(LiveCapture, CaptureThatLostNothingHasZeroDrops) {
    const int frames = capture_in_child(
        pair_, 2.0,
        [](int result, const live_frames& seen) {
            const auto& drops = last_capture_outcome.drops;
            return result != 0 ? 254 : !drops ? 252 : drops->total() != 0 ? 251 : seen.frames;
        },
        [&] { return send_datagrams(pair_.ns_a, 5, 9999, live_payload); });
    EXPECT_EQ(frames, 5) << "-1: not capturing or not sent, 253: no namespace, 254: the source "
                            "failed, 252: no figures, 251: frames dropped";
}

// An interface that exists, but in the other namespace, does not exist
// for a capture in this one.
TEST_F(LiveCapture, InterfaceMissingHereFails) {
    background_capture capture(pair_.ns_b, {"-i", pair_.link_a});
    const twtest::run_result run = capture.finish(hang_bound);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.rfind("pcap_open(): ", 0), 0u) << run.err;
}

// On a terminal a live capture shows its interface, its counts and the time
// left under a limit, and erases the line before the run goes on.
TEST_F(LiveCapture, ProgressLineOnATerminal) {
    const std::string no_terminal = twtest::terminal_unavailable();
    if (!no_terminal.empty()) {
        GTEST_SKIP() << no_terminal;
    }
    twtest::temp_dir dir;
    const std::string out = dir.file("out");
    const std::string command = "ip netns exec " + twtest::shell_quoted(pair_.ns_b) + " " +
                                twtest::shell_quoted(twtest::tallywire_path()) + " -i " +
                                twtest::shell_quoted(pair_.link_b) + " -s 2 >" +
                                twtest::shell_quoted(out);
    const twtest::run_result run = twtest::run_under_terminal(command, hang_bound);
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("\r" + pair_.link_b + ": 0 frames, 0 bytes, 0:0"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find(" left"), std::string::npos) << run.out;
    // The line goes before the one message of an empty capture.
    const std::string message = "No packets processed.\r\n";
    ASSERT_GE(run.out.size(), message.size()) << run.out;
    EXPECT_EQ(run.out.substr(run.out.size() - message.size()), message);
    EXPECT_TRUE(twtest::ends_erased(run.out.substr(0, run.out.size() - message.size()))) << run.out;
}

// On "any", libpcap hands out Linux cooked frames; the long options count
// them as IPv4 and IPv6, with their hosts and ports.
class LiveDeepCapture : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string why = pair_.build();
        if (!why.empty()) {
            GTEST_SKIP() << why;
        }
    }

    namespace_pair pair_{true};
};

TEST_F(LiveDeepCapture, AnyDeviceCountsBothFamiliesExactly) {
    constexpr int ipv4_count = 7;
    constexpr int ipv6_count = 5;
    constexpr std::uint16_t port = 9997;
    constexpr std::uint16_t source_port = 40123;
    constexpr std::size_t payload = 24;
    background_capture capture(pair_.ns_b, {"--look-through", "--ipv6", "-n", "-S", "a", "-i",
                                            "any", "-f", "udp port 9997"});
    ASSERT_TRUE(capture.wait_until_capturing(hang_bound));
    ASSERT_TRUE(send_udp(pair_.ns_a, AF_INET6, ipv6_count, port, source_port, payload));
    ASSERT_TRUE(send_udp(pair_.ns_a, AF_INET, ipv4_count, port, source_port, payload));
    std::this_thread::sleep_for(500ms);
    capture.signal(SIGINT);
    const twtest::run_result run = capture.finish(hang_bound);
    ASSERT_EQ(run.status, 0) << run.err;

    // Each frame as "any" gives it: a 16-byte cooked header, then the IP
    // and UDP headers and the payload.
    const std::uint64_t v4 = 16 + 20 + 8 + payload;
    const std::uint64_t v6 = 16 + 40 + 8 + payload;
    const std::uint64_t total = ipv4_count * v4 + ipv6_count * v6;
    const auto line = [&](const std::string& label, std::uint64_t packets, std::uint64_t bytes) {
        return report_test::expected_line(label, packets, bytes, total);
    };
    const std::uint64_t both = ipv4_count + ipv6_count;
    const std::string expected =
        "Total Statistics:\n" + line("Total ", both, total) + "Link Statistics:\n" +
        line("Linux cooked (IP): ", ipv4_count, ipv4_count * v4) +
        line("Linux cooked (IPv6): ", ipv6_count, ipv6_count * v6) + "IP Statistics:\n" +
        line("17 ", both, total) + "Port Statistics:\n" + line("9997 ", both, total) +
        line("40123 ", both, total) + "Host Statistics:\n" +
        line("192.0.2.1 ", ipv4_count, ipv4_count * v4) +
        line("192.0.2.2 ", ipv4_count, ipv4_count * v4) +
        line("2001:db8:53::1 ", ipv6_count, ipv6_count * v6) +
        line("2001:db8:53::2 ", ipv6_count, ipv6_count * v6) + "Network Statistics:\n" +
        line("192.0.2.0 ", ipv4_count, ipv4_count * v4) +
        line("2001:db8:53::/64 ", ipv6_count, ipv6_count * v6);
    // Rows of equal bytes come in no set order: compare them as sets.
    const auto sorted_lines = [](const std::string& text) {
        std::vector<std::string> lines;
        std::istringstream in(text);
        for (std::string one; std::getline(in, one);) {
            lines.push_back(one);
        }
        std::sort(lines.begin(), lines.end());
        return lines;
    };
    EXPECT_EQ(sorted_lines(run.out), sorted_lines(expected)) << run.out;
}

}  // namespace
