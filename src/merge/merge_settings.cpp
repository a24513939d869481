#include "merge/merge_settings.h"

namespace tallywire {

const char* first_difference(const counting_settings& a, const counting_settings& b,
                             const named_settings& compared) {
    if (compared.stat_kinds && a.kinds != b.kinds) {
        return "-S (the statistics collected)";
    }
    if (compared.direction_split && a.direction_split != b.direction_split) {
        return "-d (sources and destinations apart)";
    }
    if (compared.port_limit && a.port_limit != b.port_limit) {
        return "-P/-R (the port limit)";
    }
    if (compared.ipv6 && a.ipv6 != b.ipv6) {
        return "--ipv6";
    }
    if (compared.look_through && a.look_through != b.look_through) {
        return "--look-through";
    }
    return nullptr;
}

const char* first_unmet(const counting_settings& part, const counting_settings& asked,
                        const named_settings& named) {
    if (named.stat_kinds && (asked.kinds & ~part.kinds) != 0) {
        return "-S (the statistics collected)";
    }
    named_settings others = named;
    others.stat_kinds = false;
    return first_difference(part, asked, others);
}

counting_settings command_line_settings(const run_config& command_line) {
    const run_config& chosen = command_line;
    counting_settings stated;
    stated.kinds = chosen.stat_kinds;
    stated.direction_split = chosen.direction_split;
    if (chosen.port_limit_enabled) {
        stated.port_limit = chosen.port_limit;
    }
    stated.ipv6 = chosen.ipv6;
    stated.look_through = chosen.look_through;
    return stated;
}

run_config adopt(const run_config& command_line, const counting_settings& stated) {
    run_config chosen = command_line;
    chosen.stat_kinds = command_line.named.stat_kinds ? command_line.stat_kinds : stated.kinds;
    chosen.direction_split = stated.direction_split;
    chosen.port_limit_enabled = stated.port_limit.has_value();
    chosen.port_limit = stated.port_limit.value_or(chosen.port_limit);
    chosen.ipv6 = stated.ipv6;
    chosen.look_through = stated.look_through;
    return chosen;
}

}  // namespace tallywire
