/* A small program whose functions have distinct, known sizes. */
static int counter;

static int square(int x) { return x * x; }

int add(int a, int b) { return a + b; }

int sum_of_squares(const int *v, int n)
{
    int total = 0;
    for (int i = 0; i < n; ++i)
        total += square(v[i]);
    return total;
}

void bump(void) { counter++; }

int dispatch(int op, int a, int b)
{
    switch (op) {
    case 0: return add(a, b);
    case 1: return a - b;
    case 2: return a * b;
    case 3: return b ? a / b : 0;
    default: bump(); return counter;
    }
}

int main(void)
{
    int v[4] = {1, 2, 3, 4};
    return sum_of_squares(v, 4) + dispatch(0, 1, 2) - 32;
}
