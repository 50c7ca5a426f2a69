/* The second version: perimeter grew a check, legacy_check went away and
   diagonal_squared came in. */
struct rect { int w, h; };

int area(const struct rect *r) { return r->w * r->h; }

int perimeter(const struct rect *r)
{
    if (r->w < 0 || r->h < 0)
        return -1;
    return 2 * (r->w + r->h);
}

int diagonal_squared(const struct rect *r) { return r->w * r->w + r->h * r->h; }

void scale(struct rect *r, int k)
{
    r->w *= k;
    r->h *= k;
}
