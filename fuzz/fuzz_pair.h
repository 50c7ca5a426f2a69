// A debug-information input of the fuzzer may hold two files: a name file
// and the program's .dla, joined by this separator. The target writes them
// side by side under one base name, so that a .dla member finds its name
// file and a name file finds its .dla.
#pragma once

inline constexpr char FUZZ_PAIR_SEPARATOR[] = "\n#funsize-pair#\n";
