/* Archive member that the second build adds. */
int gamma_sum(const int *v, int n)
{
    int s = 0;
    while (n-- > 0)
        s += *v++;
    return s;
}
