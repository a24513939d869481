#include "capture_writer.h"

#include <pcap/pcap.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
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

void append_snoop_header(std::vector<std::uint8_t>& out) {
    out.insert(out.end(), {'s', 'n', 'o', 'o', 'p', 0, 0, 0});
    put32(out, 2);  // version
    put32(out, 4);  // Ethernet
}

// One record: the 24-byte header, the included bytes, then zeros up to a
// multiple of 4 so that the next record header stays aligned.
void append_snoop_record(std::vector<std::uint8_t>& out, const frame& f,
                         std::uint32_t snap_length) {
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

}  // namespace

struct pcap_writer::handles {
    std::unique_ptr<pcap_t, pcap_closer> dead;
    std::unique_ptr<pcap_dumper_t, dumper_closer> dumper;
};

pcap_writer::pcap_writer(const std::string& path, int datalink, std::uint32_t snap_length)
    : handles_(std::make_unique<handles>()), snap_length_(snap_length) {
    handles_->dead.reset(pcap_open_dead(datalink, static_cast<int>(snap_length)));
    if (!handles_->dead) {
        throw std::runtime_error("pcap_open_dead failed");
    }
    handles_->dumper.reset(pcap_dump_open(handles_->dead.get(), path.c_str()));
    if (!handles_->dumper) {
        throw std::runtime_error("pcap_dump_open: " + std::string(pcap_geterr(handles_->dead.get())));
    }
}

pcap_writer::~pcap_writer() = default;

void pcap_writer::write(const frame& f) {
    pcap_pkthdr header{};
    header.ts.tv_sec = static_cast<time_t>(f.seconds);
    header.ts.tv_usec = static_cast<suseconds_t>(f.microseconds);
    header.caplen =
        static_cast<bpf_u_int32>(std::min<std::size_t>(f.bytes.size(), snap_length_));
    header.len = wire_length_of(f);
    pcap_dump(reinterpret_cast<u_char*>(handles_->dumper.get()), &header, f.bytes.data());
}

void pcap_writer::finish() {
    if (!handles_->dumper) {
        return;
    }
    // pcap_dump reports nothing, so a failed write shows only in the stream's
    // error flag.
    const bool failed = pcap_dump_flush(handles_->dumper.get()) != 0 ||
                        std::ferror(pcap_dump_file(handles_->dumper.get())) != 0;
    handles_->dumper.reset();
    if (failed) {
        throw std::runtime_error("cannot write the pcap file");
    }
}

struct snoop_writer::output {
    std::FILE* stream = nullptr;
    bool owned = false;
    ~output() {
        if (owned && stream != nullptr) {
            std::fclose(stream);
        }
    }
};

snoop_writer::snoop_writer(const std::string& path, std::uint32_t snap_length)
    : output_(std::make_unique<output>()), snap_length_(snap_length) {
    if (path == "-") {
        output_->stream = stdout;
    } else {
        output_->stream = std::fopen(path.c_str(), "wb");
        output_->owned = true;
        if (output_->stream == nullptr) {
            throw std::runtime_error("cannot open " + path + ": " + std::strerror(errno));
        }
    }
    append_snoop_header(record_);
    std::fwrite(record_.data(), 1, record_.size(), output_->stream);
}

snoop_writer::~snoop_writer() = default;

void snoop_writer::write(const frame& f) {
    record_.clear();
    append_snoop_record(record_, f, snap_length_);
    std::fwrite(record_.data(), 1, record_.size(), output_->stream);
}

void snoop_writer::finish() {
    if (output_->stream == nullptr) {
        return;
    }
    bool failed = std::fflush(output_->stream) != 0 || std::ferror(output_->stream) != 0;
    if (output_->owned) {
        failed = std::fclose(output_->stream) != 0 || failed;
    }
    output_->stream = nullptr;
    if (failed) {
        throw std::runtime_error("cannot write the snoop file");
    }
}

void write_pcap(const std::string& path, int datalink, std::uint32_t snap_length,
                std::span<const frame> frames) {
    pcap_writer writer(path, datalink, snap_length);
    for (const frame& f : frames) {
        writer.write(f);
    }
    writer.finish();
}

std::vector<std::uint8_t> snoop_image(std::span<const frame> frames, std::uint32_t snap_length) {
    std::vector<std::uint8_t> out;
    append_snoop_header(out);
    for (const frame& f : frames) {
        append_snoop_record(out, f, snap_length);
    }
    return out;
}

void write_snoop(const std::string& path, std::span<const frame> frames,
                 std::uint32_t snap_length) {
    snoop_writer writer(path, snap_length);
    for (const frame& f : frames) {
        writer.write(f);
    }
    writer.finish();
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
