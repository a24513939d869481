#include "report/report.h"

void print_report() {}
