// Program entry of funsize.
#include "funsize.h"

int main(int argc, char **argv) { return funsize_main(argc, argv); }
