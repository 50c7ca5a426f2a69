// The a.out reader on files made by the a.out writer: the layout variants,
// the offsets behind relocations, odd and missing tables, damaged files.
// Every layout's symbols, tables past the end of the file and names the
// string table cannot give are shown end to end.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "aout.h"
#include "aout_writer.h"
#include "indgen.h"
#include "test_files.h"

namespace {

using testing_support::File;
using testing_support::open_bytes;
using testing_support::Silent;
using Words = std::vector<uint32_t>;

// Opens the reader on bytes and closes it when the test is done with it.
struct Opened {
    File f;
    bsd_file b{};
    explicit Opened(const std::string &bytes) : f(open_bytes(bytes)) {
        EXPECT_EQ(Bsd_Open(f.get(), &b, "t.o", nullptr, -1), &b);
    }
    ~Opened() { Bsd_Close(&b); }
    int32_t read() { return Bsd_ReadSymbols(f.get(), &b); }
    std::string name(int i) const { return b.strings + b.symbols[i].n_strx; }
};

// Three symbols out of address order, one of them data.
aoutw::AoutFile sized(aoutw::AoutFile f, uint32_t text, uint32_t data, uint32_t trsize, uint32_t drsize) {
    f.text_size = text, f.data_size = data, f.trsize = trsize, f.drsize = drsize;
    f.symbols = {aoutw::text("_main", 0x40), aoutw::symbol("_data", N_DATA | N_EXT, 0x2000),
                 aoutw::text("_start", 0x20, false)};
    return f;
}

// The variant flags at their boundaries and the offsets behind non-empty
// relocation areas.
TEST(AoutReader, LayoutVariantsAndOffsets) {
    aoutw::AoutFile sparc_static = aoutw::sparc_dynamic(), sparc_omagic = aoutw::sparc_dynamic();
    sparc_static.mid &= uint16_t(~EX_DYNAMIC);
    sparc_omagic.magic = OMAGIC;
    aoutw::AoutFile oldsun = aoutw::x86_omagic();
    oldsun.mid = M_OLDSUN2;
    const struct {
        const char *what;
        aoutw::AoutFile file;
        Words variant;  // sun_dynamic, omagic_variant, generic_variant, page_size
        Words offsets;  // text, data, trel, drel, sym
    } cases[] = {
        // A ZMAGIC file has no header of its own; its data is page-aligned,
        // and in the generic layout so are the relocations behind it.
        {"SPARC dynamic ZMAGIC", sized(aoutw::sparc_dynamic(), 0x2010, 0x123, 0x18, 0x0c), {1, 0, 0, 8192},
         {0, 0x4000, 0x2133, 0x214b, 0x2157}},
        {"machine 0 OMAGIC", sized(oldsun, 0x100, 0x20, 8, 4), {0, 1, 0, 8192}, {32, 0x120, 0x140, 0x148, 0x14c}},
        {"68020 NMAGIC", sized(aoutw::m68k(NMAGIC), 0x100, 0x20, 8, 4), {0, 0, 1, 0x20000},
         {32, 0x120, 0x140, 0x148, 0x14c}},
        {"SPARC ZMAGIC without the dynamic flag", sized(sparc_static, 0x2010, 0x123, 0x18, 0x0c), {0, 0, 1, 0x20000},
         {0, 0x20000, 0x20123, 0x2013b, 0x2157}},
        {"SPARC dynamic OMAGIC", sized(sparc_omagic, 0x100, 0x20, 8, 4), {0, 0, 1, 0x20000},
         {32, 0x120, 0x140, 0x148, 0x14c}},
    };
    for (const auto &c : cases) {
        // Behind other bytes, as an archive member: the offset is given and
        // the reader allocates the record.
        SCOPED_TRACE(c.what);
        File f = open_bytes(std::string(100, 'x') + aoutw::write_aout(c.file), 3);
        bsd_file *b = Bsd_Open(f.get(), nullptr, "member.o", "lib.a", 100);
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(std::ftell(f.get()), 132) << "left behind the header";
        EXPECT_EQ(std::tuple(std::string(b->name), std::string(b->archive_name), b->base, b->nsyms),
                  std::tuple("member.o", "lib.a", 100, 3));
        EXPECT_EQ((Words{b->sun_dynamic, b->omagic_variant, b->generic_variant, b->page_size}), c.variant);
        const uint32_t sym = c.offsets[4];
        EXPECT_EQ((Words{b->text_offset, b->data_offset, b->trel_offset, b->drel_offset, b->sym_offset,
                         b->str_offset, b->abs_sym_offset, b->abs_str_offset}),
                  (Words{c.offsets[0], c.offsets[1], c.offsets[2], c.offsets[3], sym, sym + 36, sym + 100, sym + 136}));
        ASSERT_TRUE(Bsd_ReadSymbols(f.get(), b) == 3 && Bsd_ReadSymbols(f.get(), b) == 3);
        Bsd_SortSymbols(b);
        const nlist *s = b->symbols;
        EXPECT_EQ((Words{s[0].n_value, s[1].n_value, s[2].n_value}), (Words{0x20, 0x40, 0x2000}));
        EXPECT_EQ(std::string(b->strings + s[0].n_strx) + (b->strings + s[2].n_strx), "_start_data");
        Bsd_Close(b);
        EXPECT_TRUE(b->symbols == nullptr && b->nsyms == 0);
        gen_free_fn(b);
    }

    // Bsd_ReadNlist at the current position, into the caller's array.
    Opened x86(aoutw::write_aout(sized(aoutw::x86_omagic(), 0x100, 0x20, 0, 0)));
    std::fseek(x86.f.get(), 32 + 0x120 + 12, SEEK_SET);
    nlist two[2] = {};
    EXPECT_EQ(Bsd_ReadNlist(x86.f.get(), two, 2, -1), two);
    EXPECT_EQ((Words{two[0].n_value, two[1].n_value}), (Words{0x2000, 0x20}));
    // An MZ stub without a PE header cannot be identified; the caller's
    // record is left cleared.
    bsd_file cleared;
    std::memset(&cleared, 0x5a, sizeof cleared);
    EXPECT_EQ(Bsd_Open(open_bytes("MZ" + std::string(126, '\0')).get(), &cleared, "stub.exe", "lib.a", 0), nullptr);
    EXPECT_TRUE(cleared.name == nullptr && cleared.archive_name == nullptr);
}

TEST(AoutReader, EmptyOddAndDamagedTables) {
    // No symbols: an empty string table, and no seek towards it.
    aoutw::AoutFile desc = aoutw::x86_omagic();
    desc.with_strings = false;
    {
        Opened o(aoutw::write_aout(desc));
        EXPECT_EQ(o.read(), 0);
        ASSERT_TRUE(o.b.symbols == nullptr && o.b.strings != nullptr);
        EXPECT_TRUE(o.b.strsize == 0 && o.b.strings[0] == '\0' && std::ftell(o.f.get()) == 32);
    }
    // a_syms not a multiple of 12: the odd bytes are no entry, but the
    // strings still start behind all of a_syms.
    desc = sized(aoutw::m68k(NMAGIC), 0x100, 0, 0, 0);
    desc.syms_slack = 5;
    {
        Opened o(aoutw::write_aout(desc));
        ASSERT_EQ(o.read(), 3);
        EXPECT_EQ(o.name(1), "_data");
    }
    // With a status pointer: a symbol table past the end allocates and reads
    // nothing; a string table longer than the file is not read.
    aoutw::AoutLayout at;
    const std::string good = aoutw::write_aout(sized(aoutw::sparc_dynamic(), 0x2010, 0x10, 0, 0), &at);
    for (auto [where, value, symbols] : {std::tuple(aoutw::header_word(4), 12 * 100000000u, 0),
                                         std::tuple(at.str_offset, 0x7fffffffu, 3)}) {
        std::string b = good;
        aoutw::put32(b, where, value, true);
        Silent quiet;
        Opened o(b);
        EXPECT_EQ(o.read(), symbols);
        EXPECT_TRUE(o.b.nsyms == symbols && (o.b.symbols != nullptr) == (symbols != 0) && o.b.strings == nullptr &&
                    quiet.status == -1);
    }
    // Narrowing conversions say when they cut.
    int32_t kept[2] = {}, cut = 0;
    EXPECT_EQ(testing_support::stderr_of([&] { kept[0] = Bsd_Int64ToLong(-5), kept[1] = Bsd_Int64ToLong(0x7fffffff); }), "");
    EXPECT_EQ(testing_support::stderr_of([&] { cut = Bsd_Int64ToLong(0x80000000LL); }),
              "error: Bsd_Int64ToLong: value truncated\n");
    EXPECT_TRUE(kept[0] == -5 && kept[1] == 0x7fffffff && cut == INT32_MIN);
}

TEST(AoutReaderDeathTest, BadMagicAndSizesThatWrap) {
    elf_set_status(nullptr);
    bsd_file rec{};
    rec.a_magic = 0x1234;
    EXPECT_EXIT(Bsd_Init(&rec), testing::ExitedWithCode(1), "fatal: \\[Bsd_Init\\] bad magic\n$");
    // Sizes whose sum wraps past 32 bits: the symbol table would lie beyond
    // 4 GiB, not at the small offset the wrapped sum gives.
    std::string b = aoutw::write_aout(sized(aoutw::x86_omagic(), 0x100, 0x10, 0, 0));
    aoutw::put32(b, aoutw::header_word(1), 0xfffffff0u, false);
    aoutw::put32(b, aoutw::header_word(2), 0x40, false);
    EXPECT_EXIT(Opened(b).read(), testing::ExitedWithCode(1), "fatal: read failed, unexpected EOF\n$");
}

}  // namespace
