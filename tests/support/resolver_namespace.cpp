#include "support/resolver_namespace.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace twtest {
namespace {

// A responder that is not listening by then never will be.
constexpr int ready_timeout_ms = 30000;

bool run_ip(const std::vector<std::string>& args, std::string& err) {
    const run_result run = run_program(ip_program(), args);
    err = run.err;
    return run.status == 0;
}

}  // namespace

std::string ip_program() {
    for (const char* path : {"/usr/sbin/ip", "/sbin/ip", "/usr/bin/ip", "/bin/ip"}) {
        if (access(path, X_OK) == 0) {
            return path;
        }
    }
    return "";
}

bool hosts_consult_dns() {
    std::ifstream nsswitch("/etc/nsswitch.conf");
    std::string line;
    while (std::getline(nsswitch, line)) {
        std::istringstream words(line);
        std::string word;
        words >> word;
        if (word != "hosts:") {
            continue;
        }
        while (words >> word) {
            if (word == "dns") {
                return true;
            }
        }
    }
    return false;
}

resolver_namespace::resolver_namespace(int delay_ms)
    : name_("tw-dns-" + std::to_string(getpid())),
      config_dir_("/etc/netns/" + name_),
      log_path_(dir_.file("queries")) {
    unavailable_ = start(delay_ms);
}

std::string resolver_namespace::start(int delay_ms) {
    if (geteuid() != 0) {
        return "a network namespace of the test's own needs root";
    }
    if (ip_program().empty()) {
        return "the ip command (iproute2) is not installed";
    }
    if (!hosts_consult_dns()) {
        return "the hosts line of /etc/nsswitch.conf does not list dns";
    }
    std::string err;
    if (!run_ip({"netns", "add", name_}, err)) {
        return "cannot create a network namespace: " + err;
    }
    created_ = true;
    if (!run_ip({"-n", name_, "link", "set", "lo", "up"}, err)) {
        return "cannot bring up the namespace's loopback: " + err;
    }
    std::error_code error;
    std::filesystem::create_directories(config_dir_, error);
    std::ofstream(config_dir_ + "/resolv.conf")
        << "nameserver 127.0.0.1\n"
           // A silent address costs one second, not the default minutes.
           "options timeout:1 attempts:1\n";

    int ready_pipe[2];
    if (pipe(ready_pipe) != 0) {
        return "pipe failed";
    }
    std::vector<std::string> words = {ip_program(), "netns", "exec", name_, TALLYWIRE_DNS_RESPONDER,
                                      "-d", std::to_string(delay_ms), "-l", log_path_};
    responder_ = fork();
    if (responder_ == 0) {
        dup2(ready_pipe[1], 1);
        close(ready_pipe[0]);
        close(ready_pipe[1]);
        // ip netns exec replaces itself with the responder: the pid stays.
        twtest::exec_words(std::move(words));
    }
    close(ready_pipe[1]);
    std::string said;
    pollfd wait{ready_pipe[0], POLLIN, 0};
    char buffer[64];
    while (said.find('\n') == std::string::npos) {
        const int ready = poll(&wait, 1, ready_timeout_ms);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        const ssize_t n = ready > 0 ? read(ready_pipe[0], buffer, sizeof buffer) : 0;
        if (n <= 0) {
            break;
        }
        said.append(buffer, static_cast<std::size_t>(n));
    }
    close(ready_pipe[0]);
    return said == "ready\n" ? "" : "the DNS responder did not start";
}

resolver_namespace::~resolver_namespace() {
    if (responder_ > 0) {
        kill(responder_, SIGTERM);
        while (waitpid(responder_, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    std::string err;
    if (created_) {
        run_ip({"netns", "del", name_}, err);
    }
    std::error_code error;
    std::filesystem::remove_all(config_dir_, error);
}

std::vector<std::string> resolver_namespace::exec_words() const {
    return {ip_program(), "netns", "exec", name_};
}

run_result resolver_namespace::run(const std::string& program,
                                   const std::vector<std::string>& args,
                                   const run_options& options) const {
    std::vector<std::string> words = {"netns", "exec", name_, program};
    words.insert(words.end(), args.begin(), args.end());
    return run_program(ip_program(), words, options);
}

std::vector<std::string> resolver_namespace::queries() const {
    std::ifstream log(log_path_);
    std::vector<std::string> names;
    std::string line;
    while (std::getline(log, line)) {
        names.push_back(line);
    }
    return names;
}

void resolver_namespace::forget_queries() const {
    std::ofstream(log_path_, std::ios::trunc);
}

}  // namespace twtest
