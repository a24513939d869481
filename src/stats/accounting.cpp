#include "stats/accounting.h"

void account_packet(const packet_record&) {}

void accounting_sink(const packet_record* packet, void*) { account_packet(*packet); }
