// Turns the input descriptions of the case files into files (see the header).
#include "case_inputs.h"

#include <filesystem>
#include <functional>
#include <map>
#include <sstream>
#include <stdexcept>

#include "aout_writer.h"
#include "ar_writer.h"
#include "dla_writer.h"
#include "elf_writer.h"
#include "run_program.h"

namespace e2e_cases {

namespace {

using Words = std::vector<std::string>;

uint64_t number(const std::string &text) {
    size_t used = 0;
    const uint64_t v = std::stoull(text, &used, 0);
    if (used != text.size()) throw std::invalid_argument("not a number: " + text);
    return v;
}

// The value of the word "key=value" from word `from` on.
uint64_t field(const Words &w, const std::string &key, size_t from = 2) {
    for (size_t i = from; i < w.size(); ++i)
        if (w[i].rfind(key + "=", 0) == 0) return number(w[i].substr(key.size() + 1));
    throw std::invalid_argument("missing " + key + "=");
}

std::string elf(const std::vector<Words> &lines) {
    elfw::ElfFile f;
    std::map<std::string, uint32_t> index;  // section name -> header index
    std::vector<Words> patches;
    for (const Words &w : lines) {
        if (w[0] == "class" && w.size() >= 2) {
            f.elf_class = int(number(w[1]));
            f.big_endian = w.size() > 2 && w[2] == "big";
        } else if (w[0] == "machine" && w.size() == 2) {
            f.machine = uint16_t(number(w[1]));
        } else if (w[0] == "section" && w.size() == 5) {
            const uint64_t addr = field(w, "addr"), size = field(w, "size");
            f.sections.push_back(w[2] == "data" ? elfw::data_section(w[1], addr, size)
                                                : elfw::code_section(w[1], addr, w[2] == "nobits" ? 0 : size));
            if (w[2] == "nobits") f.sections.back().type = SHT_NOBITS, f.sections.back().size = size;
            index[w[1]] = uint32_t(f.sections.size());
        } else if (w[0] == "symbol" && w.size() == 6 && w[2] == "func" && (index.count(w[3]) || w[3] == "abs")) {
            f.symbols.push_back(elfw::func(w[1], field(w, "value", 4), field(w, "size", 4), index[w[3]]));
            f.symbols.back().special = w[3] == "abs" ? SHN_ABS : 0;
        } else if (w[0] == "patch" && w.size() == 3 && w[1] == "e_shoff") {
            patches.push_back(w);
        } else {
            throw std::invalid_argument("bad line: " + w[0]);
        }
    }
    std::string bytes = elfw::write_elf(f);
    for (const Words &w : patches) elfw::patch_header(bytes, f, elfw::HeaderField::e_shoff, number(w[2]));
    return bytes;
}

std::string aout(const std::vector<Words> &lines) {
    const std::map<std::string, aoutw::AoutFile> layouts = {
        {"sparc-dynamic", aoutw::sparc_dynamic()}, {"x86-omagic", aoutw::x86_omagic()},
        {"little-zmagic", aoutw::little_zmagic()}, {"m68k-omagic", aoutw::m68k(OMAGIC)},
        {"m68k-nmagic", aoutw::m68k(NMAGIC)},      {"m68k-zmagic", aoutw::m68k(ZMAGIC)}};
    const std::map<std::string, uint8_t> types = {{"text", N_TEXT}, {"data", N_DATA}, {"abs", N_ABS}};
    aoutw::AoutFile f;
    std::vector<Words> patches;
    for (const Words &w : lines) {
        const std::string type = w.size() == 4 ? w[2].substr(0, w[2].find('+')) : "";
        if (w[0] == "layout" && w.size() == 2 && layouts.count(w[1]))
            f = layouts.at(w[1]);
        else if (w[0] == "text" && w.size() == 2)
            f.text_size = uint32_t(number(w[1]));
        else if (w[0] == "data" && w.size() == 2)
            f.data_size = uint32_t(number(w[1]));
        else if (w[0] == "symbol" && types.count(type))
            f.symbols.push_back(aoutw::symbol(w[1], uint8_t(types.at(type) | (w[2] == type + "+ext" ? N_EXT : 0)),
                                              uint32_t(field(w, "value", 3))));
        else if (w[0] == "patch" && w.size() == 3 && (w[1] == "syms" || w[1] == "strsize"))
            patches.push_back(w);
        else
            throw std::invalid_argument("bad line: " + w[0]);
    }
    aoutw::AoutLayout at;
    std::string bytes = aoutw::write_aout(f, &at);
    for (const Words &w : patches)
        aoutw::put32(bytes, w[1] == "syms" ? aoutw::header_word(4) : at.str_offset, uint32_t(number(w[2])),
                     f.big_endian);
    return bytes;
}

std::string archive(const std::vector<Words> &lines, const std::string &dir) {
    std::vector<ar_writer::ArMember> members;
    ar_writer::ArOptions options;
    for (const Words &w : lines) {
        if (w[0] != "symtab" && w[0] != "members") throw std::invalid_argument("bad line: " + w[0]);
        options.symbol_table |= w[0] == "symtab";
        for (size_t i = 1; i < w.size(); ++i) {
            const size_t eq = w[i].find('=');
            const std::string from = dir + "/" + w[i].substr(eq == std::string::npos ? 0 : eq + 1);
            if (!std::filesystem::exists(from)) throw std::invalid_argument("no input " + from);
            members.emplace_back(w[i].substr(0, eq), testing_support::read_file(from));
        }
    }
    return ar_writer::write_archive(members, options);
}

std::string dbg(const std::vector<Words> &lines) {
    dbgw::DbgDesc d;
    std::vector<Words> patches;
    for (const Words &w : lines) {
        if (w[0] == "mode" && w.size() == 2 && w[1] == "64")
            d.enc.mode = GADR_MODE_64BIT;
        else if (w[0] == "proc" && w.size() == 4)
            d.procs.push_back({w[1], number(w[2]), number(w[3]), ""});
        else if (w[0] == "patch" && w.size() == 3)
            patches.push_back(w);
        else
            throw std::invalid_argument("bad line: " + w[0]);
    }
    dbgw::Bytes bytes = dbgw::write_dbg(d);
    for (const Words &w : patches) dbgw::patch32(bytes, number(w[1]), uint32_t(number(w[2])));
    return std::string(bytes.begin(), bytes.end());
}

void program(const std::vector<Words> &lines, const std::string &base, const std::string &dir) {
    dlaw::ProgramDesc p;
    std::vector<Words> entries;  // changes to the name file's object entries
    std::vector<std::string> left_out;
    std::vector<std::function<void(STDnm *)>> rewrites;  // of the name file once written
    for (const Words &w : lines) {
        if (w[0] == "mode" && w.size() == 2 && w[1] == "64") {
            p.mode = GADR_MODE_64BIT;
        } else if (w[0] == "section" && w.size() == 4) {
            p.sections.push_back({w[1], number(w[2]), number(w[3])});
        } else if (w[0] == "object" && w.size() >= 3) {
            std::string magic = w[2];
            for (size_t i = 3; i < w.size(); ++i) magic += " " + w[i];
            p.objects.push_back({w[1], magic, {}});
        } else if (w[0] == "proc" && (w.size() == 4 || (w.size() == 5 && w[4] == "dnm")) && !p.objects.empty()) {
            p.objects.back().procs.push_back({w[1], number(w[2]), number(w[3]), w.size() == 5});
        } else if (w[0] == "unlocated" && !p.objects.empty()) {
            p.objects.back().located = false;
        } else if (w[0] == "entry" && w.size() == 3 && w[2].rfind("offset=", 0) == 0) {
            entries.push_back(w);
        } else if (w[0] == "dev-version" && w.size() == 1) {
            rewrites.push_back([](STDnm *d) { d->version = STDNM_DEV_VERSION; });
        } else if (w[0] == "update-links" && w.size() == 1) {
            rewrites.push_back([](STDnm *d) {
                int32_t link[1] = {2};
                STDnm_SetIndexTable(d, STDNM_DLO_FILE_UPDATE_LINKS, link, 1);
            });
        } else if (w[0] == "without" && w.size() == 2) {
            left_out.push_back(w[1]);
        } else {
            throw std::invalid_argument("bad line: " + w[0]);
        }
    }
    p.tweak_entry = [&](size_t k, STDnm_DloFile &e) {
        for (const Words &w : entries)
            if (w[1] == p.objects[k].member) e.offset = number(w[2].substr(7));
    };
    dlaw::write_files(dlaw::write_program(p), p, dir, base);
    for (const auto &rewrite : rewrites)
        if (!dbgw::rewrite_dnm(dir + "/" + base + ".dnm", rewrite))
            throw std::runtime_error("the name file could not be rewritten");
    for (const std::string &name : left_out) std::filesystem::remove(dir + "/" + name);
}

}  // namespace

std::string build_input(const std::string &kind, const std::string &name, const std::vector<std::string> &text,
                        const std::string &dir) {
    std::vector<Words> lines;
    for (const std::string &line : text) {
        std::istringstream in(line);
        Words w;
        for (std::string s; in >> s;) w.push_back(s);
        if (!w.empty()) lines.push_back(w);
    }
    try {
        if (kind == "program") return program(lines, name, dir), "";
        const std::string bytes = kind == "elf"    ? elf(lines)
                                  : kind == "aout" ? aout(lines)
                                  : kind == "ar"   ? archive(lines, dir)
                                  : kind == "dbg"  ? dbg(lines)
                                                   : throw std::invalid_argument("unknown kind");
        testing_support::write_file(dir + "/" + name, bytes);
        return "";
    } catch (const std::exception &e) {
        return kind + " " + name + ": " + e.what();
    }
}

}  // namespace e2e_cases
