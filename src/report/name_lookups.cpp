#include "report/name_lookups.h"

#include <pthread.h>
#include <signal.h>

#include <absl/container/flat_hash_map.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>

#include "capture/progress_line.h"
#include "report/name_service.h"
#include "stats/table_keys.h"

namespace tallywire {
namespace {

// What a row of the kind is looked up by, and how.
enum class lookup_kind { none, host, service, protocol };

lookup_kind lookup_for(std::uint32_t kind) {
    switch (kind) {
    case stat_host: return lookup_kind::host;
    case stat_port: return lookup_kind::service;
    case stat_ip: return lookup_kind::protocol;
    default: return lookup_kind::none;
    }
}

// What is looked up: a number (an IPv4 address as stored, a port, a
// protocol), or an IPv6 address.
struct name_key {
    std::uint32_t value = 0;
    std::optional<std::array<std::uint8_t, 16>> ipv6;

    friend bool operator==(const name_key&, const name_key&) = default;
    template <typename hash_state>
    friend hash_state AbslHashValue(hash_state state, const name_key& key) {
        return hash_state::combine(std::move(state), key.value, key.ipv6.has_value(),
                                   key.ipv6.value_or(std::array<std::uint8_t, 16>{}));
    }
};

// The key as the label functions take it: the address as stored, the port's
// low 16 bits, the protocol number stored one higher.
name_key lookup_key(lookup_kind kind, const report_row& row) {
    switch (kind) {
    case lookup_kind::service: return {keys::port_of(row.key.value), std::nullopt};
    case lookup_kind::protocol: return {keys::protocol_of(row.key.value), std::nullopt};
    default: return {row.key.value, std::nullopt};
    }
}

name_key lookup_key(lookup_kind, const wide_row& row) { return {0, row.key.value.bytes()}; }

std::optional<std::string> look_up(lookup_kind kind, const name_key& key) {
    switch (kind) {
    case lookup_kind::host: return key.ipv6 ? host_name_of(*key.ipv6) : host_name_of(key.value);
    case lookup_kind::service: return service_name_of(static_cast<std::uint16_t>(key.value));
    case lookup_kind::protocol: return protocol_name_of(static_cast<std::uint16_t>(key.value));
    default: return std::nullopt;
    }
}

// Set by the first SIGINT while names are waited for: the report is then
// printed at once, with numbers where no name came, and no later block
// waits for names. The handler is installed with SA_RESETHAND, so a second
// SIGINT ends the program as a shell expects.
volatile std::sig_atomic_t names_abandoned = 0;

extern "C" void abandon_names(int) { names_abandoned = 1; }

// Watches for SIGINT while it lives, in place of whatever handler a
// capture left installed (which would only end a capture that is over).
// The handler that was there comes back unless the watch caught a SIGINT.
class interrupt_watch {
public:
    interrupt_watch() {
        struct sigaction action {};
        action.sa_handler = abandon_names;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESETHAND;
        installed_ = sigaction(SIGINT, &action, &previous_) == 0;
    }
    ~interrupt_watch() {
        if (installed_ && names_abandoned == 0) {
            sigaction(SIGINT, &previous_, nullptr);
        }
    }
    interrupt_watch(const interrupt_watch&) = delete;
    interrupt_watch& operator=(const interrupt_watch&) = delete;

private:
    struct sigaction previous_ {};
    bool installed_ = false;
};

// The work the threads share: each takes the next key not yet taken and
// stores its answer under the lock. It is shared with the threads, which
// may outlive a wait that a SIGINT cut short.
class lookup_work {
public:
    lookup_work(lookup_kind kind, std::vector<name_key> keys)
        : kind_(kind), keys_(std::move(keys)), answers_(keys_.size()) {}

    void run() {
        for (;;) {
            const std::size_t index = next_.fetch_add(1);
            if (index >= keys_.size() || names_abandoned != 0) {
                return;
            }
            std::optional<std::string> answer;
            try {
                answer = look_up(kind_, keys_[index]);
            } catch (...) {
                // Without memory for the name the row shows its number.
            }
            {
                const std::lock_guard lock(mutex_);
                answers_[index] = std::move(answer);
                ++done_;
            }
            changed_.notify_one();
        }
    }

    // Waits for every answer, showing how many are in once the wait has
    // been long, and hands the answers over: all of them, or those in when
    // a SIGINT stopped the wait. The condition variable's wait goes back to
    // waiting by itself when a signal interrupts it; the flag is looked at
    // every 100 ms.
    std::vector<std::optional<std::string>> wait_for_answers() {
        progress_pace pace;
        std::unique_lock lock(mutex_);
        while (done_ < keys_.size() && names_abandoned == 0) {
            changed_.wait_for(lock, std::chrono::milliseconds(100));
            if (progress_wanted() && pace.due(progress_pace::clock::now())) {
                std::array<char, 64> text{};
                const int length = std::snprintf(text.data(), text.size(),
                                                 "Looking up names: %zu of %zu", done_,
                                                 keys_.size());
                lock.unlock();
                show_progress({text.data(), std::min(static_cast<std::size_t>(std::max(length, 0)),
                                                      text.size() - 1)});
                lock.lock();
            }
        }
        std::vector<std::optional<std::string>> answers =
            done_ == keys_.size() ? std::move(answers_) : answers_;
        lock.unlock();
        erase_progress();
        return answers;
    }

private:
    lookup_kind kind_;
    std::vector<name_key> keys_;
    std::vector<std::optional<std::string>> answers_;
    std::atomic<std::size_t> next_{0};
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t done_ = 0;
};

// Blocks the capture's signals in the calling thread while it lives, so that
// the threads started meanwhile inherit the block and every such signal goes
// to the thread that handles the capture's state.
class capture_signals_blocked {
public:
    capture_signals_blocked() {
        sigset_t blocked;
        sigemptyset(&blocked);
        sigaddset(&blocked, SIGINT);
        sigaddset(&blocked, SIGALRM);
        pthread_sigmask(SIG_BLOCK, &blocked, &previous_);
    }
    ~capture_signals_blocked() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
    capture_signals_blocked(const capture_signals_blocked&) = delete;
    capture_signals_blocked& operator=(const capture_signals_blocked&) = delete;

private:
    sigset_t previous_;
};

// Runs the work on up to max_lookups_in_flight threads and returns the
// answers when all of them are in, or when a SIGINT stops the wait: the
// threads still asking are then left to end with the program. Threads that
// cannot be started are done without; with none at all the calling thread
// does the work itself.
std::vector<std::optional<std::string>> run_concurrently(const std::shared_ptr<lookup_work>& work,
                                                         std::size_t keys) {
    std::vector<std::thread> threads;
    {
        const capture_signals_blocked blocked;
        const std::size_t wanted = std::min(keys, max_lookups_in_flight);
        try {
            threads.reserve(wanted);
            while (threads.size() < wanted) {
                threads.emplace_back([work] { work->run(); });
            }
        } catch (const std::system_error&) {
        } catch (const std::bad_alloc&) {
        }
    }
    const interrupt_watch watch;
    if (threads.empty()) {
        work->run();
    }
    std::vector<std::optional<std::string>> answers = work->wait_for_answers();
    if (names_abandoned != 0) {
        std::fputs("tallywire: name lookups stopped by SIGINT: numbers stand where no name "
                   "came\n",
                   stderr);
    }
    for (std::thread& thread : threads) {
        if (names_abandoned != 0) {
            thread.detach();
        } else {
            thread.join();
        }
    }
    return answers;
}

}  // namespace

const char* row_names::name(std::size_t row) const {
    const std::optional<std::string>& found = names_[slot_of_row_[row]];
    return found ? found->c_str() : nullptr;
}

row_names look_up_row_names(std::uint32_t kind, std::span<const report_row> rows,
                            std::span<const wide_row> wide_rows) {
    const lookup_kind lookup = lookup_for(kind);
    if (lookup == lookup_kind::none || (rows.empty() && wide_rows.empty())) {
        return row_names{};
    }
    try {
        // Each distinct key once, however many rows show it (both sides
        // under -d).
        std::vector<name_key> keys;
        std::vector<std::uint32_t> slot_of_row;
        absl::flat_hash_map<name_key, std::uint32_t> slot_of_key;
        slot_of_row.reserve(rows.size() + wide_rows.size());
        const auto add = [&](const auto& row) {
            const name_key key = lookup_key(lookup, row);
            const auto [at, added] =
                slot_of_key.try_emplace(key, static_cast<std::uint32_t>(keys.size()));
            if (added) {
                keys.push_back(key);
            }
            slot_of_row.push_back(at->second);
        };
        std::for_each(rows.begin(), rows.end(), add);
        std::for_each(wide_rows.begin(), wide_rows.end(), add);
        if (names_abandoned != 0) {
            // A SIGINT gave up on names: numbers, without asking again.
            return row_names(std::move(slot_of_row),
                             std::vector<std::optional<std::string>>(keys.size()));
        }
        const std::size_t count = keys.size();
        auto work = std::make_shared<lookup_work>(lookup, std::move(keys));
        return row_names(std::move(slot_of_row), run_concurrently(work, count));
    } catch (const std::bad_alloc&) {
        return row_names{};
    }
}

}  // namespace tallywire
