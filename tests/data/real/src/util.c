/* A second object for archives. */
int util_max(int a, int b) { return a > b ? a : b; }
int util_min(int a, int b) { return a < b ? a : b; }
static int helper(int x) { return x ^ 0x55; }
int util_mix(int x) { return helper(x) + util_max(x, 3); }
