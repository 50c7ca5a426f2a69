// File identification by leading bytes.
#include "indgen.h"
#include "objfile.h"

namespace {

file_ident ident;

}  // namespace

file_ident *identify_file(FILE *f, const char *name) {
    FILE *own = f ? nullptr : gen_fopen(name, "rb");
    if (!f && !own) return nullptr;
    FILE *fp = f ? f : own;
    int64_t start = gen_ftell64(fp);
    ident = file_ident{};
    uint8_t magic[2] = {0, 0};
    gen_read_exact(fp, magic, 2);
    ident.magic[0] = magic[0];
    ident.magic[1] = magic[1];
    ident.machine = uint32_t(magic[1]) * 256 + magic[0];
    ident.file_type = FT_UNKNOWN;
    if (own)
        std::fclose(own);
    else
        gen_fseek64(fp, start, SEEK_SET);
    return &ident;
}
