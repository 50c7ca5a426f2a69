// Machine-type codes of file_ident::machine_type that code outside the
// identification tables acts on. The tables in identify_tables.h give every
// code its name; these are the ones that readers, handlers and the report
// test by value.
#pragma once

#include <cstdint>

inline constexpr uint32_t MT_M88000 = 20;
inline constexpr uint32_t MT_PPC_COFF = 32;   // PowerPC, the tool chain's own COFF
inline constexpr uint32_t MT_POWERPC = 33;
inline constexpr uint32_t MT_RS6000 = 41;
inline constexpr uint32_t MT_PPC64 = 65;
inline constexpr uint32_t MT_RENESAS_V850 = 94;
// Debug-information files (file type 9) by container file kind.
inline constexpr uint32_t MT_DEBUG_DBG = 99;
inline constexpr uint32_t MT_DEBUG_DBO = 100;
inline constexpr uint32_t MT_DEBUG_DNM = 101;
inline constexpr uint32_t MT_PROFILE_PRO = 122;
inline constexpr uint32_t MT_PROFILE_GPRO = 123;
inline constexpr uint32_t MT_RESOURCE = 125;
inline constexpr uint32_t MT_TI = 131;
inline constexpr uint32_t MT_X86_64 = 138;
