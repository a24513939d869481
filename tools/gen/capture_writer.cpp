#include "capture_writer.h"

#include <pcap/pcap.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>

namespace twgen {
namespace {

struct pcap_closer {
    void operator()(pcap_t* handle) const { pcap_close(handle); }
};
struct dumper_closer {
    void operator()(pcap_dumper_t* dumper) const { pcap_dump_close(dumper); }
};

void put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value >> 24));
    out.push_back(static_cast<std::uint8_t>(value >> 16));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

std::uint32_t wire_length_of(const frame& f) {
    return f.wire_length != 0 ? f.wire_length : static_cast<std::uint32_t>(f.bytes.size());
}

}  // namespace

void write_pcap(const std::string& path, int datalink, std::uint32_t snap_length,
                std::span<const frame> frames) {
    std::unique_ptr<pcap_t, pcap_closer> handle(
        pcap_open_dead(datalink, static_cast<int>(snap_length)));
    if (!handle) {
        throw std::runtime_error("pcap_open_dead failed");
    }
    std::unique_ptr<pcap_dumper_t, dumper_closer> dumper(
        pcap_dump_open(handle.get(), path.c_str()));
    if (!dumper) {
        throw std::runtime_error(std::string("pcap_dump_open: ") + pcap_geterr(handle.get()));
    }
    for (const frame& f : frames) {
        pcap_pkthdr header{};
        header.ts.tv_sec = static_cast<time_t>(f.seconds);
        header.ts.tv_usec = static_cast<suseconds_t>(f.microseconds);
        header.caplen = static_cast<bpf_u_int32>(
            std::min<std::size_t>(f.bytes.size(), snap_length));
        header.len = wire_length_of(f);
        pcap_dump(reinterpret_cast<u_char*>(dumper.get()), &header, f.bytes.data());
    }
    if (pcap_dump_flush(dumper.get()) != 0) {
        throw std::runtime_error("pcap_dump_flush failed for " + path);
    }
}

std::vector<std::uint8_t> snoop_image(std::span<const frame> frames, std::uint32_t snap_length) {
    std::vector<std::uint8_t> out = {'s', 'n', 'o', 'o', 'p', 0, 0, 0};
    put32(out, 2);  // version
    put32(out, 4);  // Ethernet
    for (const frame& f : frames) {
        const auto included =
            static_cast<std::uint32_t>(std::min<std::size_t>(f.bytes.size(), snap_length));
        const std::uint32_t padded = (included + 3) & ~3u;
        put32(out, wire_length_of(f));
        put32(out, included);
        put32(out, 24 + padded);
        put32(out, 0);  // cumulative drops
        put32(out, static_cast<std::uint32_t>(f.seconds));
        put32(out, static_cast<std::uint32_t>(f.microseconds));
        out.insert(out.end(), f.bytes.begin(), f.bytes.begin() + included);
        out.insert(out.end(), padded - included, 0);
    }
    return out;
}

void write_snoop(const std::string& path, std::span<const frame> frames,
                 std::uint32_t snap_length) {
    write_file(path, snoop_image(frames, snap_length));
}

void write_file(const std::string& path, std::span<const std::uint8_t> contents) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(contents.data()),
              static_cast<std::streamsize>(contents.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

std::vector<std::uint8_t> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace twgen
