// Inputs of the end-to-end cases built from short descriptions through the
// writers in tests/writers, one line of words per item:
//   --- elf NAME      class 32|64 [big]; machine N; section NAME code|data|nobits
//                     addr=A size=S; symbol NAME func SECTION|abs value=V size=S;
//                     patch e_shoff V
//   --- aout NAME     layout sparc-dynamic|x86-omagic|little-zmagic|m68k-omagic|
//                     m68k-nmagic|m68k-zmagic; text N; data N;
//                     symbol NAME text|data|abs[+ext] value=V; patch syms|strsize V
//   --- ar NAME       symtab; members NAME[=INPUT]... (inputs built above)
//   --- dbg NAME      mode 64; proc NAME BEGIN END; patch OFFSET WORD (big-endian)
//   --- program BASE  BASE.dnm, BASE.dla and each object as a file: mode 64;
//                     section NAME BEGIN END; object MEMBER MAGIC...;
//                     proc NAME BEGIN END [dnm] and unlocated (of the object
//                     above); entry MEMBER offset=V (in the name file);
//                     dev-version, update-links (of the name file); without FILE
// Numbers are C literals; ELF sections are numbered from 1 in the order given.
#pragma once

#include <string>
#include <vector>

namespace e2e_cases {

// Writes the input `kind` `name` described by `lines` into `dir`; gives
// what is wrong with the description, or "" when the input was written.
std::string build_input(const std::string &kind, const std::string &name, const std::vector<std::string> &lines,
                        const std::string &dir);

}  // namespace e2e_cases
