#include "program_state.h"

settings current_settings;
packet_record current_packet;
volatile std::sig_atomic_t capture_running = 0;
std::atomic<double> seconds_remaining{0.0};
std::vector<stat_table> stat_tables;
int stat_table_count = 0;
std::atomic<pcap*> live_capture_handle{nullptr};

void reset_program_state() {
    current_settings = settings{};
    current_packet = packet_record{};
    capture_running = 0;
    seconds_remaining = 0.0;
    stat_tables.clear();
    stat_table_count = 0;
    live_capture_handle = nullptr;
}
