#include "cli/run_sequence.h"

int main(int argc, char** argv) { return tallywire_main(argc, argv); }
