/* Archive member that both builds carry. */
int beta_only(int x) { return x ^ 0x55; }
