// Writes the generated part of the fuzzer's seed corpus: small inputs of
// every format family built with the test writers, one directory per family
// under the directory named on the command line (elf, archive, coff, aout,
// debug). The real files of the test data are added by the run script.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ar_writer.h"
#include "coff_writer.h"
#include "elf_writer.h"
#ifdef FUZZ_DEBUG_SEEDS
#include "dbg_writer.h"
#include "dla_writer.h"
#include "fuzz_pair.h"
#endif

namespace fs = std::filesystem;

// In make_seeds_aout.cpp (the a.out and COFF headers cannot meet in one file).
std::vector<std::string> aout_seeds(const fs::path &out_dir);

namespace {

fs::path out_dir;

void save(const std::string &family, const std::string &name, const std::string &bytes) {
    fs::create_directories(out_dir / family);
    std::ofstream(out_dir / family / name, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

elfw::ElfFile elf_sample(int elf_class, bool big_endian) {
    elfw::ElfFile f;
    f.elf_class = elf_class;
    f.big_endian = big_endian;
    f.machine = elf_class == 64 ? (big_endian ? EM_PPC64 : EM_X86_64) : (big_endian ? EM_PPC : EM_ARM);
    f.sections = {elfw::code_section(".text", 0x1000, 0x80), elfw::data_section(".data", 0x2000, 0x10)};
    f.symbols = {elfw::func("main", 0x1000, 0x20, 1), elfw::func("helper", 0x1020, 0, 1, STB_LOCAL),
                 elfw::symbol("..lx", 0x1040, 0, STT_NOTYPE, 1), elfw::func(".dotted", 0x1050, 0x10, 1),
                 elfw::symbol("table", 0x2000, 8, STT_OBJECT, 2)};
    return f;
}

std::vector<std::string> elf_seeds() {
    std::vector<std::string> all;
    for (int cls : {32, 64}) {
        for (bool be : {false, true}) {
            elfw::ElfFile f = elf_sample(cls, be);
            std::string base = "elf" + std::to_string(cls) + (be ? "be" : "le");
            all.push_back(elfw::write_elf(f));
            save("elf", base + ".o", all.back());
            f.type = ET_EXEC;
            save("elf", base + "_exec", elfw::write_elf(f));
            f.symbol_names = elfw::SymbolNames::SectionNames;
            save("elf", base + "_shstrnames.o", elfw::write_elf(f));
            f.symbol_names = elfw::SymbolNames::Strtab;
            f.force_extended = true;
            save("elf", base + "_extended.o", elfw::write_elf(f));
            f.force_extended = false;
            f.symtab_type = SHT_DYNSYM;
            f.symtab_name = ".dynsym";
            save("elf", base + "_dynsym.so", elfw::write_elf(f));
        }
    }
    return all;
}

coffw::CoffFile coff_sample() {
    coffw::CoffFile f;
    f.sections = {coffw::code(".text", 0, 0x40), coffw::data(".data", 0x40, 0x10)};
    f.symbols = {coffw::file_symbol("x.c"), coffw::func("main", 0x10, 1, 0x20), coffw::plain_func("helper", 0x30, 1),
                 coffw::label("a_rather_long_label_name", 0x38, 1), coffw::section_symbol(".text", 1, 0x40)};
    f.symbols[3].in_string_table = true;
    return f;
}

std::vector<std::string> coff_seeds() {
    std::vector<std::string> objs;
    coffw::CoffFile f = coff_sample();
    objs.push_back(coffw::write_coff(f));
    save("coff", "i386.o", objs.back());
    save("coff", "i386.exe", coffw::write_pe(f));
    f.magic = AMD64MAGIC;
    save("coff", "amd64.o", coffw::write_coff(f));
    f.optional_header = std::string(0xF0, '\0');
    save("coff", "amd64.exe", coffw::write_pe(f));
    f = coff_sample();
    f.magic = MC68MAGIC;
    f.big_endian = true;
    save("coff", "m68k.o", coffw::write_coff(f));
    f.magic = U802TOCMAGIC;
    objs.push_back(coffw::write_coff(f));
    save("coff", "xcoff.o", objs.back());
    f = coff_sample();
    f.magic = MIPSEBMAGIC;
    f.big_endian = true;
    f.symbol_entry_size = MIPS_SYMESZ;
    save("coff", "mips.o", coffw::write_coff(f));
    f = coff_sample();
    f.layout = coffw::SectionLayout::M88000;
    f.symbol_entry_size = M88K_SYMESZ;
    f.big_endian = true;
    f.magic = 0x016d;
    save("coff", "m88k.o", coffw::write_coff(f));
    f = coff_sample();
    f.layout = coffw::SectionLayout::TexasInstruments;
    f.magic = TI_COFF2_MAGIC;
    save("coff", "ti.o", coffw::write_coff(f));
    return objs;
}

void archive_seeds(const std::vector<std::string> &elf, const std::vector<std::string> &coff,
                   const std::vector<std::string> &aout) {
    using namespace ar_writer;
    std::vector<ArMember> members = {{"a.o", elf[0]}, {"a_long_member_name.o", elf[3]}, {"c.o", coff[0]},
                                     {"d.o", aout[0]}, {"odd.txt", "odd"}};
    ArOptions o;
    o.symbol_table = true;
    save("archive", "common_slash.a", write_archive(members, o));
    o.long_names = ArLongNames::SlashNul;
    save("archive", "common_slashnul.a", write_archive(members, o));
    o.long_names = ArLongNames::ArFilenames;
    save("archive", "common_arfilenames.a", write_archive(members, o));
    o.long_names = ArLongNames::Filenames;
    save("archive", "common_filenames.a", write_archive(members, o));
    o.long_names = ArLongNames::None;
    o.pad_odd = false;
    save("archive", "common_nopad.a", write_archive(members, o));
    o = ArOptions{};
    o.form = ArForm::Arch64;
    save("archive", "arch64.a", write_archive(members, o));
    o.form = ArForm::Elfa;
    save("archive", "elfa.a", write_archive(members, o));
    o.form = ArForm::Aix;
    o.symbol_table = true;
    save("archive", "aix.a", write_archive({{"x.o", coff[1]}, {"y.o", elf[1]}, {"odd", "o"}}, o));
}

#ifdef FUZZ_DEBUG_SEEDS
std::string str(const dbgw::Bytes &b) { return std::string(b.begin(), b.end()); }

void debug_seeds() {
    for (bool compress : {true, false}) {
        for (uint32_t mode : {uint32_t(GADR_MODE_32BIT), uint32_t(GADR_MODE_64BIT)}) {
            dlaw::ProgramDesc p;
            p.mode = mode;
            p.compress = compress;
            p.sections = {{".text", 0x1000, 0x2000}};
            p.objects = {{"a.dbo", "magic a", {{"main", 0x1000, 0x1040}, {"helper", 0x1040, 0x1080, true}}},
                         {"b.dbo", "magic b", {{"other", 0x1100, 0x1180}}}};
            dlaw::Program prog = dlaw::write_program(p);
            std::string tag = std::string(compress ? "z" : "plain") + (mode == GADR_MODE_64BIT ? "64" : "32");
            save("debug", tag + ".dnm", str(prog.dnm));
            save("debug", tag + ".dla", str(prog.dla));
            save("debug", tag + ".pair", str(prog.dnm) + FUZZ_PAIR_SEPARATOR + str(prog.dla));
            for (size_t i = 0; i < prog.dbos.size(); ++i) save("debug", tag + "_" + std::to_string(i) + ".dbo", str(prog.dbos[i]));
        }
    }
    dbgw::DbgDesc d;
    d.procs = {{"main", 0x1000, 0x1040, ""}, {"helper", 0x1040, 0x1080, "_Z6helperv"}};
    save("debug", "single.dbg", str(dbgw::write_dbg(d)));
}
#endif

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s output-directory\n", argv[0]);
        return 2;
    }
    out_dir = argv[1];
    std::vector<std::string> elf = elf_seeds();
    std::vector<std::string> coff = coff_seeds();
    std::vector<std::string> aout = aout_seeds(out_dir);
    archive_seeds(elf, coff, aout);
#ifdef FUZZ_DEBUG_SEEDS
    debug_seeds();
#endif
    return 0;
}
