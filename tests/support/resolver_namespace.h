#pragma once

// A network namespace of the test's own whose resolver is the test DNS
// responder (tools/dns_responder) on its loopback: `ip netns exec` puts
// /etc/netns/NAME/resolv.conf over /etc/resolv.conf for what runs inside, so
// the machine's own resolver is never asked. Removed with its folder under
// /etc/netns when the object goes.

#include <string>
#include <sys/types.h>
#include <vector>

#include "support/process.h"

namespace twtest {

class resolver_namespace {
public:
    // delay_ms: how long the responder holds every answer.
    explicit resolver_namespace(int delay_ms);
    ~resolver_namespace();
    resolver_namespace(const resolver_namespace&) = delete;
    resolver_namespace& operator=(const resolver_namespace&) = delete;

    // Empty when the namespace and its responder are up; otherwise why not
    // (for GTEST_SKIP).
    const std::string& unavailable() const { return unavailable_; }

    const std::string& name() const { return name_; }

    // Runs program with args inside the namespace.
    run_result run(const std::string& program, const std::vector<std::string>& args,
                   const run_options& options = {}) const;

    // The words that run a command inside the namespace: "ip netns exec NAME".
    std::vector<std::string> exec_words() const;

    // Every query name the responder has received so far, one per query.
    std::vector<std::string> queries() const;
    void forget_queries() const;

private:
    std::string start(int delay_ms);

    twtest::temp_dir dir_;
    std::string name_;
    std::string config_dir_;
    std::string log_path_;
    bool created_ = false;
    pid_t responder_ = -1;
    std::string unavailable_;
};

// Whether the hosts line of /etc/nsswitch.conf lists dns.
bool hosts_consult_dns();

// The ip command of iproute2; empty when missing.
std::string ip_program();

}  // namespace twtest
