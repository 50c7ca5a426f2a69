// Identification of inputs by their leading bytes: one row of each magic
// table rule, the rules written as code (RISC-V word size, BE8, the Renesas
// notes, data files), archives, short and damaged inputs.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <tuple>

#include "elf_writer.h"
#include "identify.h"
#include "run_program.h"
#include "test_files.h"

namespace {

using testing_support::open_bytes;
using testing_support::put;
using testing_support::stderr_of;
using H = elfw::HeaderField;
using S = elfw::SectionField;
constexpr uint32_t NONE = 0xFFFFFFFFu;

std::string lead(std::initializer_list<uint8_t> bytes, size_t size = 0) {
    std::string b(bytes.begin(), bytes.end());
    b.resize(std::max(size, b.size()));
    return b;
}

// Identifies `image` stored behind `junk` bytes, as an archive member would
// be, and checks that the handle is left at the image's start.
file_ident identify(const std::string &image, const char *name = "in.o", size_t junk = 0) {
    testing_support::File f = open_bytes(std::string(junk, '\xEE') + image, long(junk));
    const file_ident *p = identify_file(f.get(), name);
    EXPECT_EQ(std::ftell(f.get()), long(junk)) << "handle moved";
    EXPECT_NE(p, nullptr);
    return p ? *p : file_ident{};
}

// An ELF file by the writer, with a ".note.renesas" section when notes are
// given.
elfw::Written elf(uint16_t machine, uint32_t flags = 0, int elf_class = 32, bool big = false,
                  const std::string &notes = "") {
    elfw::ElfFile desc{.elf_class = elf_class, .big_endian = big, .machine = machine, .flags = flags, .sections = {},
                       .symbols = {}, .with_symtab = false, .force_extended = false};
    if (!notes.empty()) {
        desc.sections = {elfw::data_section(".note.renesas", 0, 0)};
        desc.sections[0].type = SHT_NOTE;
        desc.sections[0].contents = notes;
    }
    return elfw::Written(desc);
}

// machine, machine_type, big_endian, flag14, leading_underscore, cpu_family.
using Target = std::tuple<uint32_t, uint32_t, int, int, int, uint32_t>;
Target target(const file_ident &id) {
    return {id.machine, id.machine_type, id.big_endian, id.flag14, id.leading_underscore, id.cpu_family};
}

// --- ELF ------------------------------------------------------------------

TEST(IdentifyElf, RiscVWordSizeByteOrderAndObjectKinds) {
    // RISC-V: the class gives the word size, which replaces flag bit 31.
    const uint32_t cases[][5] = {
        // class, e_flags, machine type, variant, flags kept
        {64, 0x10, 141, 3, 0x80000010}, {32, 0x80000010, 140, 2, 0x10},
        {64, 0x0, 141, 1, 0x80000000},  {32, 0x80000005, 140, 0, 0x5},
    };
    for (auto [elf_class, flags, machine_type, variant, kept] : cases) {
        const file_ident id = identify(elf(243, flags, int(elf_class), true).bytes);
        EXPECT_EQ(std::tuple(id.machine_type, id.arch_variant, id.flags), std::tuple(machine_type, variant, kept))
            << flags << " ELF" << elf_class;
    }
    // ARM BE8: big-endian data, little-endian code; TriCore and AArch64 code
    // is little endian; the BE8 bit means nothing elsewhere.
    const std::tuple<uint16_t, uint32_t, bool, int> orders[] = {
        {40, 0x00800000, true, 0}, {40, 0x00800000, false, 1}, {40, 0, true, 1},
        {44, 0, true, 0},          {183, 0, true, 0},          {20, 0x00800000, true, 1}};
    for (auto [machine, flags, big, code_big_endian] : orders) {
        const file_ident id = identify(elf(machine, flags, 32, big).bytes);
        EXPECT_EQ(std::tuple(id.big_endian, id.code_big_endian), std::tuple(big, code_big_endian)) << machine;
    }
    // EI_DATA other than 1 or 2: the header is read little endian, but the
    // file does not count as little endian.
    std::string b = elf(40).bytes;
    b[5] = 3;
    EXPECT_EQ(std::tuple(identify(b).machine_type, identify(b).big_endian), std::tuple(69u, 1));
    const elfw::Written exec = elf(3);
    for (uint16_t type : {0, 4, 5})
        EXPECT_EQ(identify(exec.with(H::e_type, type)).object_kind, type <= 4 ? type : 0u) << type;
}

// A note of ".note.renesas": header, name cut or padded to namesz, a value.
std::string note(std::string name, uint32_t namesz, uint32_t descsz, uint32_t type, uint32_t value, bool big = false) {
    std::string b;
    for (uint32_t word : {namesz, descsz, type}) testing_support::add(b, word, 4, big);
    name.resize(namesz);
    if (descsz >= 4) testing_support::add(name, value, 4, big);
    name.resize(namesz + descsz);
    return b + name;
}

TEST(IdentifyElf, RenesasNoteBits) {
    const struct { const char *name; uint32_t type, value, bits; } cases[] = {
        {"REL", 3, 3, 0x01}, {"REL", 3, 4, 0}, {"rel", 4, 1, 0x02}, {"Rel", 4, 2, 0x10}, {"REL", 4, 3, 0},
        {"REL", 11, 1, 0x20}, {"REL", 11, 2, 0}, {"REL", 5, 1, 0}, {"RELX", 3, 1, 0},
    };
    for (const auto &c : cases) {
        for (bool big : {false, true}) {
            const file_ident id = identify(elf(87, 0, 32, big, note(c.name, 4, 4, c.type, c.value, big)).bytes);
            EXPECT_EQ(std::tuple(id.machine_type, id.renesas_flags), std::tuple(94u, c.bits))
                << c.name << " type " << c.type << " value " << c.value;
        }
    }
    // Several notes: bits add up; notes of other sizes are stepped over
    // without alignment padding.
    const std::string notes = note("REL", 4, 4, 3, 1) + note("VENDOR", 7, 6, 4, 1) + note("REL", 4, 4, 11, 1) +
                              note("REL", 4, 8, 4, 1) + note("REL", 4, 4, 4, 2);
    EXPECT_EQ(identify(elf(36, 0, 32, false, notes).bytes).renesas_flags, 0x31u);
    // A note is read while 12 bytes of the section size are left; its name
    // and value are then read even beyond the size. A size far past the end
    // of the file: the notes that are there still count.
    const elfw::Written v850 = elf(87, 0, 32, false, notes);
    EXPECT_EQ(identify(v850.with(1, S::sh_size, 11)).renesas_flags, 0u);
    EXPECT_EQ(identify(v850.with(1, S::sh_size, 12)).renesas_flags, 0x01u);
    EXPECT_EQ(identify(v850.with(1, S::sh_size, 0xFFFFFFF0u)).renesas_flags, 0x31u);
    // Other machines are not scanned; neither is a member of an archive.
    EXPECT_EQ(identify(elf(40, 0, 32, false, notes).bytes).renesas_flags, 0u);
    EXPECT_EQ(identify(v850.bytes, "lib.a(x.o)", 68).renesas_flags, 0u);

    // Damaged tables end the scan without a finding.
    std::string huge = note("", 0, 0, 0, 0);
    put(huge, 0, 0xFFFFFFFFFFFFFFFFull, 8, false);
    EXPECT_EQ(identify(elf(87, 0, 32, false, huge + note("REL", 4, 4, 3, 1)).bytes).renesas_flags, 0u);
    const elfw::Written good = elf(87, 0, 32, false, note("REL", 4, 4, 3, 1));
    const std::string damaged[] = {
        good.with(H::e_shnum, 0xFFFF),                          // a table far past the end
        good.with(H::e_shstrndx, 7),                            // name table beyond the table
        good.with(H::e_shentsize, 8),                           // entries too small
        good.with(1, S::sh_name, 0xFFFFFF00),                   // name far outside the name table
        good.with(good.at.shstrndx, S::sh_offset, 0xFFFFFFF0),  // name table past the end
        good.with(1, S::sh_offset, 0xFFFFFFF0),                 // notes past the end
        good.bytes.substr(0, good.bytes.size() - 10),           // cut inside the section table
    };
    for (const std::string &b : damaged) EXPECT_EQ(identify(b).renesas_flags, 0u) << "case " << (&b - damaged);
}

// --- Data files, short inputs, archives -----------------------------------

TEST(IdentifyOther, DataFilesProfileNamesAndShortInputs) {
    const struct { std::string bytes; const char *name; uint32_t file_type, machine_type, machine, object_kind; } cases[] = {
        // Four-byte magics: what follows them does not matter.
        {lead({0, 0, 2, 'X', 1}, 32), "x", FT_002X, 0, 0x0000, 0},
        {lead({0, 0, 0xFF, 0xFF, 1}, 32), "x", FT_IMPORT_OBJECT, 0, 0x0000, 0},
        {lead({0x00, 0x04}, 32), "x", FT_DEBUG_INFO, 120, 0, 5},              // b0 | b1 is 1, 2 or 4
        {lead({0x03, 0x00}, 32), "x", FT_DEBUG_INFO, 121, 0, 5},              // or 3
        {lead({0x01, 0x02, 0x00, 0x00}, 32), "x", FT_DEBUG_INFO, 121, 0, 5},  // 1 | 2, no a.out row
        {lead({'V', 'L', 'G', 0}, 32), "x", FT_DEBUG_INFO, 142, 0, 5},
        {lead({'I', 'N', 'T', 'X'}, 32), "x", FT_UNKNOWN_OTHER, 0, 0x4E49, 0},
        {lead({'Z', 'Z'}, 32), "RUN.DBP", FT_PROFILE_DATA, 122, 0, 0},
        {lead({'Z', 'Z'}, 32), "/a.b/run.GPro", FT_PROFILE_DATA, 123, 0, 0},
        {lead({'Z', 'Z'}, 32), "run.prof", FT_UNKNOWN_OTHER, 0, 0x5A5A, 0},
        {lead({'Z', 'Z'}, 32), "pro", FT_UNKNOWN_OTHER, 0, 0x5A5A, 0},
        {lead({'Z', 'Z'}, 32), "lib.a(x.pro)", FT_UNKNOWN_OTHER, 0, 0x5A5A, 0},
        {lead({0x01, 0x00}, 32), "x.pro", FT_DEBUG_INFO, 120, 0, 5},  // the bytes win over the name
        {lead({0x81, 0x03, 0x01, 0x0B}, 32), "x", FT_AOUT, 42, 0x8103010B, 0},
        // Inputs shorter than the magics: missing bytes count as zero.
        {"", "empty.pro", FT_PROFILE_DATA, 122, 0, 0}, {lead({0x07, 0x01, 0x00}), "x", FT_AOUT, 44, 0x107, 0},
        {"\x7F" "EL", "x", FT_UNKNOWN_OTHER, 0, 0x457F, 0}, {lead({0x4C, 0x01, 0x00}), "x", FT_COFF, 6, 0x14C, 1},
    };
    for (const auto &c : cases) {
        const file_ident id = identify(c.bytes, c.name, 7);
        EXPECT_EQ(std::tuple(id.file_type, id.machine_type, id.machine, id.object_kind),
                  std::tuple(c.file_type, c.machine_type, c.machine, c.object_kind))
            << "size " << c.bytes.size() << " " << int(uint8_t(c.bytes[0])) << " " << c.name;
    }
    // The one big-endian executable magic sets a target of its own.
    const file_ident pa = identify(lead({0x02, 0x10, 0x01, 0x08}, 32));
    EXPECT_EQ(target(pa), Target(0x108, 113, 1, 0, 0, 14));
    EXPECT_EQ(std::tuple(pa.file_type, pa.code_big_endian, pa.object_kind), std::tuple(uint32_t(FT_BE_0210), 1, 2u));

    // A resource file's header, every byte of it.
    std::string res(32, '\0');
    for (size_t at : {4, 8, 12}) put(res, at, at == 4 ? 32 : 0xFFFF, 4, false);
    EXPECT_EQ(identify(res, "app.res", 5).machine_type, 125u);
    EXPECT_EQ(identify(res.substr(0, 31)).file_type, uint32_t(FT_UNKNOWN_OTHER));
    for (size_t at : {4, 8, 12, 16, 28}) {
        std::string bad = res;
        bad[at] ^= 1;
        EXPECT_EQ(identify(bad).file_type, uint32_t(FT_UNKNOWN_OTHER)) << "byte " << at;
    }
    // The debug-information container: kinds 1 to 7 are known; the word is
    // big endian.
    const uint32_t kinds[][2] = {{0, 0}, {1, 99}, {7, 128}, {8, 0}, {0x02000000, 0}};
    for (auto [kind, machine_type] : kinds) {
        std::string b = lead({0x7F, 'L', 'K', 'S'}, 20);
        put(b, 8, kind, 4, true);
        const file_ident d = identify(b, "prog.dnm", 60);
        EXPECT_EQ(std::tuple(d.file_type, d.machine_type, d.object_kind),
                  std::tuple(machine_type ? 9u : 18u, machine_type, machine_type ? 5u : 0u))
            << kind;
    }
}

TEST(IdentifyFile, OpensByNameAndNamesMachineTypes) {
    std::string path = testing_support::make_temp_dir() + "/in.o";
    testing_support::write_file(path, elf(183, 0, 64, true).bytes);
    file_ident *id = identify_file(nullptr, path.c_str());
    ASSERT_NE(id, nullptr);
    EXPECT_EQ(std::tuple(id->machine_type, id->elf_class), std::tuple(137u, 64u));
    std::remove(path.c_str());
    EXPECT_EQ(stderr_of([&] { EXPECT_EQ(identify_file(nullptr, path.c_str()), nullptr); }), "");
    // The first row with the code gives the name.
    EXPECT_STREQ(machine_type_name(16), "SH (GNU COFF)");
    EXPECT_STREQ(machine_type_name(142), "real-time operating system event log file");
    for (uint32_t unknown : {0u, 143u})
        EXPECT_STREQ(machine_type_name(unknown), "unknown machine type") << unknown;
}

}  // namespace
