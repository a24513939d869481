#include "report/report.h"

// Stands in until the tables can be walked.
int print_report() { return 0; }
