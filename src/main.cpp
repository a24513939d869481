#include "cli/run_sequence.h"

int main(int argc, char** argv) { return tallywire::tallywire_main(argc, argv); }
