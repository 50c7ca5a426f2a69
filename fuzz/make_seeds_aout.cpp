// The a.out seeds of the fuzzer's corpus.
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "aout_writer.h"

namespace fs = std::filesystem;

std::vector<std::string> aout_seeds(const fs::path &out_dir) {
    std::vector<std::string> all;
    std::vector<aoutw::AoutFile> files = {aoutw::sparc_dynamic(), aoutw::x86_omagic(), aoutw::m68k(OMAGIC),
                                          aoutw::m68k(NMAGIC), aoutw::m68k(ZMAGIC), aoutw::little_zmagic()};
    const char *names[] = {"sparc_dynamic", "x86_omagic", "m68k_omagic", "m68k_nmagic", "m68k_zmagic", "little_zmagic"};
    for (size_t i = 0; i < files.size(); ++i) {
        aoutw::AoutFile &f = files[i];
        if (f.text_size < 0x100) f.text_size = 0x100;
        f.symbols = {aoutw::text("_main", 0x20), aoutw::text("_helper", 0x60, false),
                     aoutw::symbol("_table", N_DATA | N_EXT, 0x200), aoutw::text("..lx1", 0x80)};
        all.push_back(aoutw::write_aout(f));
        fs::create_directories(out_dir / "aout");
        std::ofstream(out_dir / "aout" / (std::string(names[i]) + ".o"), std::ios::binary)
            .write(all.back().data(), std::streamsize(all.back().size()));
    }
    return all;
}

