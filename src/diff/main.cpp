#include "diff.h"
#include "indgeninit.h"

int main(int argc, char **argv) { gen_exit(fdiff::diff_main(argc, argv)); }
