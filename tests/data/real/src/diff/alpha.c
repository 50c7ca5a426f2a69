/* Archive member that the second build drops. */
int alpha_first(int x) { return x + 1; }
int alpha_second(int x, int y) { return x * y + 3; }
