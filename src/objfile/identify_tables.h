// The magic-number tables of file identification: ELF machines, two-byte
// COFF/PE magics, four-byte a.out magics, the one big-endian magic, and the
// names of the machine-type codes. Searched first match first.
#pragma once

#include <cstdint>

namespace ident_tables {

inline constexpr uint32_t NONE = 0xFFFFFFFFu;  // arch_variant of rows without one

struct elf_machine_row {
    uint32_t e_machine;
    uint32_t flags_mask;   // 0: any e_flags
    uint32_t flags_value;  // compared with e_flags & flags_mask
    uint32_t machine_type;
    uint8_t flag14;
    uint8_t leading_underscore;
    uint32_t cpu_family;
    const char *short_name;
    uint32_t arch_family;
    uint32_t arch_variant;
};

// The last row (machine 0) ends the search and is the result when nothing
// matched.
inline constexpr elf_machine_row elf_machines[] = {
    {3, 0, 0, 54, 0, 0, 1, nullptr, 0, NONE},
    {6, 0, 0, 55, 0, 0, 1, nullptr, 0, NONE},
    {2, 0, 0, 56, 1, 0, 29, nullptr, 0, NONE},
    {18, 0, 0, 57, 1, 0, 29, nullptr, 0, NONE},
    {10, 0, 0, 59, 1, 0, 21, nullptr, 0, NONE},
    {38, 0, 0, 60, 1, 0, 21, nullptr, 0, NONE},
    {54, 0, 0, 61, 1, 0, 21, nullptr, 0, NONE},
    {8, 0, 0, 62, 1, 0, 21, nullptr, 0, NONE},
    {78, 0, 0, 111, 1, 0, 12, "fp", 0, NONE},
    {37, 0, 0, 63, 1, 1, 13, "fr", 0, NONE},
    {20, 0, 0, 64, 1, 0, 26, "ppc", 0, NONE},
    {36, 0, 0, 94, 1, 1, 3, "v850", 0, NONE},
    {40, 0, 0, 69, 1, 0, 7, nullptr, 0, NONE},
    // SH: the row with value 0 comes first and takes every file whose top
    // nine flag bits are clear.
    {42, 0xFF800000, 0, 70, 1, 1, 28, nullptr, 0, NONE},
    {42, 0xFF800000, 0x80000000, 76, 1, 1, 28, nullptr, 0, NONE},
    {42, 0xFF800000, 0x40000000, 71, 1, 1, 28, nullptr, 0, NONE},
    {42, 0xFF800000, 0x20000000, 72, 1, 1, 28, nullptr, 0, NONE},
    {42, 0xFF800000, 0x01000000, 78, 1, 1, 28, nullptr, 0, NONE},
    {42, 0xFF800000, 0x10000000, 73, 1, 1, 28, nullptr, 0, NONE},
    {42, 0xFF800000, 0x08000000, 74, 1, 1, 28, nullptr, 0, NONE},
    {42, 0xFF800000, 0x04000000, 75, 1, 1, 28, nullptr, 0, NONE},
    {42, 0xFF800000, 0x00800000, 79, 1, 1, 28, nullptr, 0, NONE},
    {42, 0xFF800000, 0x02000000, 77, 1, 1, 28, nullptr, 0, NONE},
    {43, 0, 0, 56, 0, 0, 29, nullptr, 0, NONE},
    {1, 0, 0, 80, 0, 0, 26, nullptr, 0, NONE},
    {4, 0, 0, 82, 0, 0, 2, nullptr, 0, NONE},
    {52, 0, 0, 82, 0, 0, 2, nullptr, 0, NONE},
    {19, 0, 0, 83, 0, 1, 4, nullptr, 0, NONE},
    // TriCore, again with the catch-all row first.
    {44, 0xF0F80000, 0, 84, 1, 0, 33, "tri", 0, NONE},
    {44, 0xF0F80000, 0x80000000, 85, 1, 0, 33, "tri", 25, 0},
    {44, 0xF0F80000, 0x40000000, 86, 1, 0, 33, "tri", 25, 1},
    {44, 0xF0F80000, 0x20000000, 87, 1, 0, 33, "tri", 25, 3},
    {44, 0xF0F80000, 0x00800000, 88, 1, 0, 33, "tri", 25, 6},
    {44, 0xF0F80000, 0x00400000, 89, 1, 0, 33, "tri", 25, 7},
    {44, 0xF0F80000, 0x00200000, 90, 1, 0, 33, "tri", 25, 11},
    {44, 0xF0F80000, 0x00100000, 91, 1, 0, 33, "tri", 25, 14},
    {44, 0xF0F80000, 0x00080000, 92, 1, 0, 33, "tri", 25, 16},
    {44, 0xF0F80000, 0x01000000, 97, 1, 0, 33, "tri", 0, NONE},
    {45, 0, 0, 116, 1, 0, 6, nullptr, 0, NONE},
    {77, 0, 0, 109, 1, 0, 16, nullptr, 0, NONE},
    {51, 0, 0, 93, 1, 0, 21, nullptr, 0, NONE},
    {39, 0, 0, 98, 1, 0, 19, nullptr, 0, NONE},
    {60, 0, 0, 104, 1, 0, 30, "st100", 0, NONE},
    {57, 0, 0, 103, 1, 0, 16, nullptr, 0, NONE},
    {58, 0, 0, 108, 1, 1, 31, "sc", 0, NONE},
    {79, 0, 0, 110, 1, 1, 34, "zsp", 0, NONE},
    {63, 0, 0, 112, 1, 0, 24, "pdsp", 0, NONE},
    {102, 0, 0, 114, 1, 0, 18, "max", 35, NONE},
    {106, 0, 0, 124, 1, 1, 8, "bf", 0, NONE},
    {31, 0, 0, 124, 1, 1, 8, "bf", 0, NONE},
    {34, 0, 0, 124, 1, 1, 8, "bf", 0, NONE},
    {61453, 0, 0, 127, 1, 0, 20, "mep", 0, NONE},
    {87, 0, 0, 94, 1, 1, 3, "v850", 0, NONE},
    {88, 0, 0, 115, 1, 0, 17, "m32r", 38, NONE},
    {93, 0, 0, 117, 1, 0, 6, nullptr, 0, NONE},
    {121, 0, 0, 118, 1, 0, 27, "rhfpp", 40, NONE},
    {62, 0, 0, 129, 0, 0, 1, nullptr, 0, NONE},
    {21, 0, 0, 65, 1, 0, 26, "ppc", 0, NONE},
    {61454, 0, 0, 131, 1, 1, 9, "c6000", 0, NONE},
    {50, 0, 0, 119, 0, 0, 15, "ia64", 0, NONE},
    {122, 0x000000FF, 0x00000001, 130, 1, 0, 11, "fly", 46, 2},
    {122, 0x000000FF, 0x00000002, 130, 1, 0, 11, "fly", 46, 0},
    {122, 0x000000FF, 0x00000003, 130, 1, 0, 11, "fly", 46, 1},
    {122, 0x000000FF, 0x00000004, 130, 1, 0, 11, "fly", 46, 4},
    {23, 0, 0, 132, 1, 0, 32, "spu", 0, NONE},
    {11, 0, 0, 133, 1, 0, 26, "etpu", 0, NONE},
    {118, 0, 0, 134, 1, 1, 25, "pic30", 0, NONE},
    {61452, 0, 0, 135, 1, 0, 22, "nano", 49, NONE},
    {183, 0, 0, 137, 1, 0, 35, "arm64", 50, NONE},
    {61455, 0, 0, 139, 1, 0, 36, "mcs", 51, NONE},
    // RISC-V: bit 31 of e_flags has been replaced by the word size before
    // the lookup (set for 64-bit files).
    {243, 0x80000010, 0x00000010, 140, 1, 0, 37, "riscv", 52, 2},
    {243, 0x80000000, 0, 140, 1, 0, 37, "riscv", 52, 0},
    {243, 0x80000010, 0x80000010, 141, 1, 0, 37, "riscv", 52, 3},
    {243, 0x80000000, 0x80000000, 141, 1, 0, 37, "riscv", 52, 1},
    {0, 0, 0, 0, 0, 0, 0, nullptr, 0, NONE},
};

struct magic2_row {
    uint8_t b0, b1;
    uint32_t machine;  // stored as given, even where it differs from the bytes
    uint32_t machine_type;
    uint8_t code_big_endian;
    uint8_t big_endian;
    uint8_t flag14;
    uint8_t leading_underscore;
    uint32_t cpu_family;
    uint32_t file_type;
    uint32_t symbol_entry_size;
};

// COFF, PE and one a.out magic: the file's first two bytes, or the machine
// field of a PE header.
inline constexpr magic2_row magic2[] = {
    {0x44, 0x01, 0x144, 1, 0, 0, 0, 0, 1, 2, 18},
    {0x45, 0x01, 0x145, 2, 0, 0, 0, 0, 1, 2, 18},
    {0x46, 0x01, 0x146, 3, 0, 0, 0, 0, 1, 2, 18},
    {0x47, 0x01, 0x147, 4, 0, 0, 0, 0, 1, 2, 18},
    {0x4A, 0x01, 0x14A, 5, 0, 0, 0, 0, 1, 2, 18},
    {0x4C, 0x01, 0x14C, 6, 0, 0, 0, 1, 1, 2, 18},
    {0x64, 0x86, 0x8664, 138, 0, 0, 0, 0, 1, 2, 18},
    {0x4D, 0x5A, 0x5A4D, 6, 0, 0, 0, 1, 1, 6, 18},
    {0x11, 0x33, 0x1133, 9, 1, 1, 1, 1, 29, 2, 18},
    {0xC2, 0x70, 0x70C2, 11, 0, 0, 1, 1, 3, 2, 18},
    {0xC3, 0x70, 0x70C3, 12, 0, 0, 1, 1, 3, 2, 18},
    {0xC4, 0x70, 0x70C4, 13, 0, 0, 1, 1, 3, 2, 18},
    {0x05, 0x00, 0x500, 16, 1, 1, 1, 1, 28, 2, 18},
    {0x71, 0xC2, 0x71C2, 14, 1, 1, 1, 1, 28, 2, 18},
    {0xC3, 0x71, 0x71C3, 15, 0, 0, 1, 1, 28, 2, 18},
    {0x01, 0x65, 0x165, 17, 1, 1, 0, 0, 21, 2, 18},
    {0x66, 0x01, 0x166, 18, 0, 0, 0, 0, 21, 2, 18},
    {0x62, 0x01, 0x162, 26, 0, 0, 1, 0, 21, 2, 18},
    {0x01, 0x62, 0x162, 27, 0, 0, 1, 0, 21, 2, 18},
    {0x83, 0x01, 0x183, 28, 0, 0, 0, 0, 5, 2, 18},
    {0x02, 0x60, 0x260, 29, 1, 1, 0, 1, 4, 2, 18},
    {0x60, 0x01, 0x160, 30, 0, 0, 0, 1, 4, 2, 24},
    {0x01, 0x60, 0x160, 31, 1, 1, 0, 1, 4, 2, 24},
    {0x01, 0xC3, 0x1C3, 32, 1, 1, 1, 0, 26, 2, 18},
    {0x01, 0xC4, 0x1C4, 32, 1, 1, 1, 0, 26, 2, 18},
    {0x01, 0x50, 0x150, 34, 1, 1, 0, 0, 2, 2, 18},
    {0x01, 0x51, 0x151, 35, 1, 1, 0, 0, 2, 2, 18},
    {0x01, 0x52, 0x152, 36, 1, 1, 0, 0, 2, 2, 18},
    {0x00, 0x88, 0x88, 37, 1, 1, 0, 1, 2, 2, 18},
    {0x00, 0x89, 0x88, 38, 1, 1, 0, 1, 2, 2, 18},
    {0x02, 0x0B, 0x20B, 39, 1, 1, 0, 1, 14, 7, 18},
    {0x01, 0xDF, 0x1DF, 33, 1, 1, 0, 1, 26, 5, 18},
    {0x0B, 0x01, 0x10B, 53, 0, 0, 0, 1, 0, 1, 18},
    {0x00, 0x0A, 0xA, 102, 0, 0, 0, 1, 7, 2, 18},
    {0x0D, 0x01, 0x1D0, 30, 0, 0, 0, 1, 4, 2, 24},
    {0x84, 0x01, 0x184, 28, 0, 0, 0, 0, 5, 2, 18},
    {0x01, 0xC0, 0x1C0, 102, 0, 0, 0, 1, 7, 2, 18},
    {0x84, 0x02, 0x284, 28, 0, 0, 0, 0, 5, 2, 18},
    {0x02, 0x68, 0x268, 34, 1, 1, 0, 0, 2, 2, 18},
    {0x02, 0x66, 0x266, 17, 1, 1, 0, 0, 21, 2, 18},
    {0x03, 0x66, 0x366, 17, 1, 1, 0, 0, 21, 2, 18},
    {0x04, 0x66, 0x466, 22, 1, 1, 0, 0, 21, 2, 18},
    {0x01, 0xC2, 0x1C2, 102, 0, 0, 0, 1, 7, 2, 18},
    {0xC2, 0x00, 0xC2, 131, 0, 0, 1, 1, 9, 2, 18},
    {0x00, 0xC2, 0xC2, 131, 1, 1, 1, 1, 9, 2, 18},
};

struct magic4_row {
    uint8_t b[4];
    uint32_t machine;
    uint32_t machine_type;
    uint8_t big_endian;  // both byte-order flags of the record
    uint8_t leading_underscore;
    uint32_t cpu_family;
};

// a.out magics: the file's first four bytes.
inline constexpr magic4_row aout_magics[] = {
    {{0x07, 0x01, 0x00, 0x00}, 0x107, 44, 0, 1, 1},
    {{0x07, 0x01, 0x64, 0x00}, 0x640107, 43, 0, 1, 1},
    {{0x01, 0x02, 0x01, 0x07}, 0x1020107, 45, 1, 1, 2},
    {{0x01, 0x02, 0x01, 0x08}, 0x1020108, 45, 1, 1, 2},
    {{0x01, 0x02, 0x01, 0x0B}, 0x102010B, 45, 1, 1, 2},
    {{0x80, 0x02, 0x01, 0x07}, 0x80020107, 46, 1, 1, 2},
    {{0x00, 0x02, 0x01, 0x07}, 0x20107, 47, 1, 1, 2},
    {{0x01, 0x03, 0x01, 0x07}, 0x1030107, 10, 1, 1, 29},
    {{0x01, 0x03, 0x01, 0x0B}, 0x1030107, 10, 1, 1, 29},
    {{0x81, 0x03, 0x01, 0x07}, 0x81030107, 42, 1, 1, 29},
    {{0x81, 0x03, 0x01, 0x0B}, 0x8103010B, 42, 1, 1, 29},
    {{0x00, 0x00, 0x01, 0x07}, 0x107, 48, 1, 1, 2},
    {{0x01, 0x00, 0x01, 0x07}, 0x1000107, 49, 1, 1, 2},
    {{0x01, 0x01, 0x01, 0x07}, 0x1010107, 50, 1, 1, 2},
    {{0x00, 0x01, 0x01, 0x07}, 0x10107, 51, 1, 1, 2},
};

// Big-endian executables of one other kind (PA-RISC 1.1).
inline constexpr magic4_row big_endian_magics[] = {
    {{0x02, 0x10, 0x01, 0x08}, 0x108, 113, 1, 0, 14},
};

struct machine_name_row {
    uint32_t code;
    const char *name;
};

// Searched in this order; the first row with the code gives the name, and
// code 0 ends the list.
inline constexpr machine_name_row machine_names[] = {
    {1, "Intel 8086"},
    {2, "Intel 8086"},
    {3, "Intel 80186"},
    {4, "Intel 80186"},
    {5, "Intel 80286"},
    {6, "Intel x86"},
    {138, "x86_64"},
    {7, "32000 Avalon"},
    {8, "Sun3 M68020"},
    {9, "SPARClite"},
    {10, "SPARC"},
    {11, "NEC V810"},
    {12, "NEC V850"},
    {13, "NEC V830"},
    {14, "SH"},
    {16, "SH (GNU COFF)"},
    {15, "SH"},
    {17, "MIPS (tool chain COFF)"},
    {18, "MIPS (tool chain COFF)"},
    {19, "AP/30"},
    {20, "M88000"},
    {21, "Gmicro"},
    {22, "M16"},
    {23, "VPU"},
    {24, "i860"},
    {25, "29000"},
    {26, "MIPS"},
    {27, "MIPS (big endian machine)"},
    {28, "Alpha AXP"},
    {29, "i960 (tool chain COFF)"},
    {30, "80960"},
    {31, "80960"},
    {32, "PowerPC (tool chain COFF)"},
    {33, "PowerPC"},
    {34, "MC68000"},
    {35, "MC68000"},
    {36, "MC68000"},
    {37, "MC68000 (old)"},
    {38, "MC68000 (old)"},
    {39, "HP/PA"},
    {40, "DEC MIPS"},
    {41, "RS6000"},
    {42, "SPARC"},
    {43, "vxWorks x86"},
    {44, "vxWorks x86"},
    {45, "MC68000"},
    {46, "MC68000"},
    {47, "MC68000"},
    {48, "MC68000"},
    {49, "MC68000"},
    {50, "MC68010"},
    {51, "MC68010"},
    {52, "M88000"},
    {53, "VAX"},
    {54, "Intel x86"},
    {55, "Intel 486"},
    {56, "SPARC"},
    {57, "SPARC32PLUS"},
    {58, "M88000"},
    {59, "MIPS R4000"},
    {60, "TRW RH-32"},
    {61, "Fujitsu MMA"},
    {62, "MIPS R2000/R3000"},
    {130, "FireFly"},
    {111, "FirePath"},
    {63, "Fujitsu Risc"},
    {109, "Javelin"},
    {64, "Power PC"},
    {66, "NEC V810"},
    {67, "NEC V830"},
    {68, "NEC V850"},
    {94, "Renesas V850 or RH850"},
    {95, "NEC V830R"},
    {96, "NEC V850F"},
    {69, "ARM"},
    {70, "SH"},
    {71, "SH-1"},
    {72, "SH-2"},
    {78, "SH-2A"},
    {73, "SH-3"},
    {74, "SH-3E"},
    {75, "SH-4"},
    {79, "SH-4A"},
    {76, "SH2-DSP"},
    {77, "SH3-DSP"},
    {80, "M32"},
    {81, "i860"},
    {82, "MC68000"},
    {83, "80960"},
    {84, "Tricore"},
    {85, "Tricore Rider A"},
    {86, "Tricore TC1v1.2"},
    {87, "Tricore TC1v1.3"},
    {88, "Tricore TC1v1.3.1"},
    {89, "Tricore TC1v1.6"},
    {90, "Tricore TC1v1.6P"},
    {91, "Tricore TC1v1.6.2"},
    {92, "Tricore TC1v1.8"},
    {93, "MIPS-X"},
    {97, "PCP"},
    {98, "MCORE"},
    {99, "Debug Info"},
    {100, "Debug Info"},
    {101, "Debug Info"},
    {102, "ARM"},
    {104, "ST-100"},
    {103, "NDR1"},
    {105, "event-trace stream"},
    {106, "event-trace stream index"},
    {107, "event-trace version information"},
    {108, "Star*Core"},
    {110, "ZSP"},
    {112, "PDSP"},
    {113, "PA-RISC 1.1"},
    {114, "MAX"},
    {120, "post-mortem event data file"},
    {121, "live event data file"},
    {122, "profile data file"},
    {124, "Blackfin"},
    {125, "Microsoft Windows Resource File"},
    {126, "raw event stream file"},
    {127, "Media Procesor"},
    {115, "M32R"},
    {116, "ARC A4"},
    {117, "ARC A5"},
    {118, "RHFPP"},
    {129, "AMD x86_64"},
    {136, "16-bit Intel x86"},
    {65, "Power PC 64"},
    {119, "IA-64"},
    {131, "Texas Instruments"},
    {132, "Synergistic Processor Unit"},
    {134, "PIC24 / dsPIC30"},
    {128, "binary patch file"},
    {135, "Nano"},
    {137, "ARM64"},
    {139, "Bosch GTM/MCS"},
    {140, "RISC-V 32-bit"},
    {141, "RISC-V 64-bit"},
    {142, "real-time operating system event log file"},
    {0, "unknown machine type"},
};

}  // namespace ident_tables
