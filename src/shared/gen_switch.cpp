// Runtime switches. The program defines none yet, so initialising them has
// nothing to read.
#include "gen_switch.h"

void gen_switch_init(int, const char **) {}
