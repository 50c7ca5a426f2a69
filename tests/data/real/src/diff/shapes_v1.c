/* The first version of a small library: four functions. */
struct rect { int w, h; };

int area(const struct rect *r) { return r->w * r->h; }

int perimeter(const struct rect *r) { return 2 * (r->w + r->h); }

int legacy_check(const struct rect *r) { return r->w > 0 && r->h > 0; }

void scale(struct rect *r, int k)
{
    r->w *= k;
    r->h *= k;
}
