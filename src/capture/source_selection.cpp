#include "capture/sources.h"

// Until the file probe lands every source goes to the capture library.
int capture_from_source(const std::string& source_name, const std::string& filter_expression,
                        capture_mode mode, packet_sink sink, void* sink_arg,
                        double capture_seconds) {
    return run_pcap_source(source_name, filter_expression, mode, sink, sink_arg, capture_seconds);
}
