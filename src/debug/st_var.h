// Process-wide state of the symbol-table library.
//
// The library is steered by 153 numbered flags (debug reports, sanity
// checks, memory mapping, address-mode handling, table growth). The table is
// filled with its defaults on the first flag operation of the process and
// read through STConfig_GetOption; the STFLAG_ constants below name the
// flags that the readers and writers consult. Everything here is plain
// process-wide data for one thread.
#pragma once

#include <cstdint>

#include "gen_switch.h"

enum : int {
    ST_NUM_DEBUG_FLAGS = 153,

    STFLAG_compress = 4,
    STFLAG_useDescriptors = 5,
    STFLAG_reportDloLoads = 8,
    STFLAG_noDlaFpCaching = 13,
    STFLAG_dontUnloadBrowseInfo = 12,
    STFLAG_reportTableDoubling = 17,
    STFLAG_simpleSpecialDnm = 24,
    STFLAG_useFileMemoryMappingForDnm = 31,
    STFLAG_useFileMemoryMappingForDbo = 32,
    STFLAG_useFileMemoryMappingForDlo = 33,
    STFLAG_setGAdrModeOnBuildReadWrite = 41,
    STFLAG_reportDnmLoads = 51,
    STFLAG_reportDnmOffsets = 52,
    STFLAG_reportDnmAttaches = 53,
    STFLAG_keepLoadedTable = 63,
    STFLAG_freeReplacedDnm = 64,
    STFLAG_warnOnIntInfoLost = 65,
    STFLAG_stressTableDoubling = 71,
    STFLAG_trashOldTableAfterGrowing = 72,
    STFLAG_NoSanityCheck = 134,
    STFLAG_TableOverflowFixes = 146,
    STFLAG_ForceTableOverflow = 147,
};

// Flag values and names by number; filled on first use (STConfig_Init).
extern uint32_t STConfig_flags[ST_NUM_DEBUG_FLAGS];
extern const char *STConfig_flagNames[ST_NUM_DEBUG_FLAGS];
extern bool STConfig_initialized;

// Marker bits of string references that point at strings living in memory
// rather than in a file's string table; set by STConfig_Init.
extern uint64_t ST_memoryResidentStringBits;

// Library-wide default load configuration; 20 means no override.
extern int32_t ST_defaultLoadConfig;

// Host backtrace correction of the library's debugger clients; this program
// has none, the switch is kept so that settings naming it stay valid.
GEN_SWITCH_DEFINE(FixHostBt, 1);
