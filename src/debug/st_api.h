// Symbol-table library: reads the tool chain's debug-information files.
//
// Offers: the library's message channel ("<libst>: " through the program's
// message hook), its numbered flags (set by number, name or switch text),
// checked narrowing conversions, table growth; the reader and writer of name
// files (.dnm: sections, debug-object list, strings) and of debug objects
// (.dbo/.dbg: procedures with their names and address ranges), both on the
// container of gfile.h. Reading a file sets the process-wide address mode
// of gadr.h from the file (flag setGAdrModeOnBuildReadWrite).
// Loading (st_load.cpp): a symbol table (STSymTab) holds attached name files
// with reference counts; the debug objects a name file lists are loaded out
// of the program's .dla beside it, permanently or into temporary load slots,
// and a procedure walk (STProcIter) visits every procedure of a program,
// one debug object at a time. A debug object met on its own (a .dbo, .dbg
// or .dla member) is loaded with ST_LoadDboFromDla and attached to its name
// file when it has one; those name files are kept between loads
// (st_dnm_cache.cpp), so that a .dla walked member by member does not
// decode an unchanged name file for every member.
// Needs the host support library (messages, memory, files, host paths,
// runtime switches) and gadr.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>

#include "gadr.h"
#include "gen_switch.h"
#include "gfile.h"
#include "st_var.h"

struct STDbg;
struct STDnm;
struct STDnmCacheSlot;
struct STSymTab;

// Whether a debug object that cannot be loaded because its .dla cannot be
// opened is reported with the system's reason.
GEN_SWITCH_DEFINE(ShowReasonForFileOpenErrorInSymTab, 1);

// Narrow types of the library's records.
using STIndex = int32_t;
using STTableSize = int32_t;
using STTime = int32_t;
using STLong = int32_t;
using STULong = uint32_t;

// ------------------------------------------------------------ messages

[[noreturn]] void ST_Fatal(const char *fmt, ...);
void ST_Error(const char *fmt, ...);
void ST_ErrorErrno(const char *fmt, ...);
void ST_Warning(const char *fmt, ...);
void ST_Info(const char *fmt, ...);
// "Corruption in symbol file is detected:\n%s"; symTab may be null.
void ST_ReportCorruption(void *symTab, int isDnm, const char *fileName);
// Reports "while <context> in <file>" and gives -1 when the container's
// stream or reader failed, or when force is non-zero; else 0.
int ST_CheckStream(GFile *gf, int force, const char *context);

// ------------------------------------------------------------ flags

void STConfig_Init();
uint32_t STConfig_GetOption(int n);
const char *STConfig_GetOptionName(int n);
int ST_SetDebugFlagFNumber(int n, uint32_t value);
int ST_LookupDebugFlag(const char *text);
int ST_SetDebugFlagFName(const char *text, uint32_t value);
int ST_SetDebugFlagFromSwitch(const char *text);
bool STConfig_Compress();
bool STConfig_UseDescriptors();

// ------------------------------------------------------------ conversions

int32_t ST_Int64ToInt32(int64_t v);
uint32_t ST_UInt64ToUInt32(uint64_t v);
uint8_t ST_UInt64ToUInt8(uint64_t v);
int16_t ST_Int64ToInt16(int64_t v);
STLong ST_Int64ToLong(int64_t v);
STULong ST_UInt64ToULong(uint64_t v);
STTime ST_TimeToTime(time_t v);
STIndex ST_Int64ToIndex(int64_t v);
STTableSize ST_Int64ToTableSize(int64_t v);
int32_t ST_LongToInt(STLong v);
STIndex ST_LongToIndex(STLong v);
STTime ST_LongToTime(STLong v);

// ------------------------------------------------------------ tables

// One entry of a file's table directory, with the table's state.
struct STTableDir {
    int64_t offset;  // from the first container byte
    int32_t max;     // entry count
    uint32_t aux;    // second directory value (at most 20)
    uint8_t flags[2];
    uint8_t loaded;
    uint8_t skipped;  // not selected by the load configuration
    uint8_t mapped;   // storage lives in the file image
};

struct STTable {
    STTableDir dir;
    int32_t count;
    void *data;
    uint8_t opaque;  // data holds bytes written as they are (writers only)
    int64_t opaqueSize;
};

// (Re)allocates a table's storage to its maximum.
int STTable_AllocForBuild(STTableDir *dir, int32_t *count, void **storage, int32_t entrySize);
// The new maximum of a table holding `count` entries that needs `need` more
// (`op` and `table` name it in messages).
int32_t STTable_GrowSize(const char *op, const char *table, int32_t count, int32_t need, int32_t entrySize);

// Load configurations: which tables a read fills (bit i = table i).
uint64_t STDnm_TablesForConfig(int32_t config);
uint32_t STDbg_TablesForConfig(int32_t config);

// Strings that live in memory rather than in a file's table.
uint64_t ST_MemoryString(const char *s);
// The text of a reference into a table of `size` bytes.
const char *ST_StringFromISS(const char *table, int64_t size, uint64_t iss);

// ------------------------------------------------------------ name files

enum : int {
    STDNM_STRINGS = 0,
    STDNM_SECTIONS = 1,
    STDNM_DLO_FILES = 2,
    STDNM_FILES = 3,
    STDNM_LABELS = 7,
    STDNM_TYPES = 12,
    STDNM_DLO_FILES_BY_OFFSET = 17,
    STDNM_DLO_FILE_UPDATE_LINKS = 18,
    STDNM_SECTIONS_BY_ADR = 29,
    STDNM_ATTRIBUTES = 30,
    STDNM_NUM_TABLES = 36,
};

constexpr int32_t STDNM_MIN_VERSION = 10;
constexpr int32_t STDNM_MAX_VERSION = 43;
constexpr int32_t STDNM_DEV_VERSION = 44;

struct STDnm_Section {
    uint32_t name;
    uint32_t altName;
    gadr begin;
    gadr end;
    uint64_t value64;  // 4 bytes fixed before version 40
    int32_t value32;
    uint8_t sc;      // storage class
    STIndex index1;  // from version 24
    STIndex index2;
    STIndex index3;     // from version 30
    uint32_t flags;     // bits 0-9
    uint64_t value64b;  // from version 34
    uint32_t value32b;
};

struct STDnm_DloFile {
    uint32_t name;
    uint32_t baseName;
    uint32_t path;
    uint32_t magic;  // the debug object's magic string
    uint32_t magic2;
    STIndex iTopLevelSourceFile;  // from version 11
    uint32_t objectFileBaseName;
    STTime timeStamp;
    uint64_t offset;               // of the debug object inside the program's .dla
    uint8_t language;              // from version 19, else 31
    STIndex iTopLevelSourceFile2;  // from version 13
    uint32_t flags;                // bits 0-11

    // Run time (never written).
    STDnm *owner;  // the name file whose table holds the entry
    STDbg *dbg;    // the loaded debug object, or null
    int32_t loadType;
    uint8_t failed;            // a load was tried and failed
    uint8_t noLongerLoadable;  // unloaded while its name file was detached
};

struct STDnm {
    // Header.
    int32_t version;
    char *magic;
    char *magic2;
    char *string3;
    char *string4;
    uint8_t adrEncoding;
    uint32_t adrMode;
    uint8_t endianFlag;
    uint8_t bytesA[3];
    uint8_t byte16;
    gadr lowAdr;
    gadr highAdr;
    uint8_t byte19a;
    uint8_t objectModuleFormat;
    uint8_t objectModuleType;
    uint8_t byte19b;
    uint8_t bytes25a[4];
    uint8_t bytesPerTextAdrUnit;
    uint8_t bytesPerDataAdrUnit;
    uint8_t bytes25b[3];
    uint8_t byte29a;
    uint8_t cppAbiStyle;
    uint8_t cppMangleStyle;
    uint8_t byte29b;
    uint32_t word1;
    uint32_t words22[2];
    uint32_t word31;
    uint8_t encodingType;
    uint8_t flags;
    uint8_t bytes31[2];
    int32_t words31[2];
    uint8_t numTables;
    STTable tables[STDNM_NUM_TABLES];

    // State.
    GFile *gf;
    char *name;     // used in messages
    char *dnmPath;  // the file opened
    char *dlaPath;  // archive of the program's debug objects
    int32_t config;
    uint8_t owned;
    uint8_t loaded;
    uint8_t *image;  // file image when mapped
    int64_t imageSize;
    int64_t dirPos;  // container offset of the table directory

    // Loading and attaching.
    STSymTab *symTab;  // the table it is (or was last) attached to
    int32_t slot;      // in that table; -1 when detached
    int32_t prevSlot;  // the slot it had before it was detached, or -1
    char *progPath;    // the program path given at load time
    char *progPath2;
    STTime progMtime;  // 0 when unknown
    STTime dlaMtime;   // 0 when unknown
    int32_t rebuiltWarnings;
    int32_t refCount;
    // The cache slot that keeps the object for the next load of the same
    // name file once it is released (objects met directly in a .dla only).
    STDnmCacheSlot *cacheSlot;
};

const char *STDnm_TableName(int index);
uint32_t STDnm_TableMax(const STDnm *dnm, int index);
int32_t STDnm_TableCount(const STDnm *dnm, int index);
void *STDnm_TableEntries(const STDnm *dnm, int index);
int STDnm_TableDouble(STDnm *dnm, int index, int32_t newMax);

STDnm *STDnm_Read(STDnm *dnm, FILE *fp, const char *path, int32_t config);
int STDnm_CheckHeadSanity(STDnm *dnm);
int STDnm_CheckSanity(STDnm *dnm);
int STDnm_CheckSectionSanity(STDnm *dnm, const STDnm_Section *s);
int STDnm_CheckDloFileSanity(STDnm *dnm, const STDnm_DloFile *d);
// Releases tables, strings, paths and image; the object too when owned.
void STDnm_Release(STDnm *dnm);
void STDnm_FreeTables(STDnm *dnm);

const char *STDnm_String(const STDnm *dnm, uint64_t iss);
const STDnm_Section *STDnm_Sections(const STDnm *dnm, int32_t *count);
const STDnm_DloFile *STDnm_DloFiles(const STDnm *dnm, int32_t *count);

// Building and writing. A new object has version STDNM_MAX_VERSION, the
// current address mode and the header defaults.
STDnm *STDnm_Create();
uint32_t STDnm_AddString(STDnm *dnm, const char *s);
STIndex STDnm_AddSection(STDnm *dnm, const STDnm_Section *s);
STIndex STDnm_AddDloFile(STDnm *dnm, const STDnm_DloFile *d);
// Sets the index table `index` (17, 18 or 29) to `count` values.
void STDnm_SetIndexTable(STDnm *dnm, int index, const int32_t *values, int32_t count);
// A table whose records this library does not interpret: `bytes` are
// written as they are, followed by the end marker, under `max` entries.
void STDnm_SetOpaqueTable(STDnm *dnm, int index, int32_t max, uint32_t aux, const uint8_t *bytes, int64_t size);
// Writes to fp, or to path, or (both null) into *image (gen_free_fn).
int STDnm_Write(STDnm *dnm, FILE *fp, const char *path, const GFileOptions &opt, uint8_t **image = nullptr,
                int64_t *size = nullptr);

// ------------------------------------------------------------ debug objects

enum : int {
    STDBG_STRINGS = 0,
    STDBG_FILES = 1,
    STDBG_PROCS = 2,
    STDBG_SYMS = 3,
    STDBG_FRAMES = 6,
    STDBG_LINES = 10,
    STDBG_SYM_COPY_FORWARD = 13,
    STDBG_NUM_TABLES = 21,
};

constexpr int32_t STDBG_MIN_VERSION = 5;
constexpr int32_t STDBG_MAX_VERSION = 41;
constexpr int32_t STDBG_DEV_VERSION = 42;

struct STDbg;

struct STDbg_Proc {
    uint32_t useName;
    uint32_t mangledName;
    gadr begin;
    gadr end;
    int32_t preData;
    uint32_t postData;  // from version 9
    STIndex iSym;
    STIndex iSymMax;
    STIndex iLineStab;
    STIndex iLineStabFirstByILine;  // from version 22
    STIndex iLineStabMax;
    STIndex iLine;
    STIndex iLineFirstLbrac;
    STIndex iLineMax;
    STIndex iFile;
    STIndex iFrameInfo;
    uint8_t small;   // from version 6
    uint32_t flags;  // 17 one-bit flags
    STDbg *dbg;      // owner, for name lookups
};

struct STDbg {
    // Header.
    uint32_t kind;  // container kind: GF_KIND_DBG or GF_KIND_DBO
    int32_t version;
    char *magic;
    uint8_t adrEncoding;
    uint32_t adrMode;
    uint8_t fIsDlOFile;
    uint8_t fAdrLocated;  // procedures carry addresses
    uint8_t byteA;
    uint8_t byte12a;
    uint8_t producerType;
    uint8_t byte12b;
    uint32_t producer;
    uint8_t language;
    uint8_t lcAbiStyle;
    uint8_t lcAbiVersion;
    uint8_t lcMangleStyle;
    uint8_t lcMangleVersion;
    uint8_t compilationHostType;
    uint8_t byte27a;
    uint8_t fCodeCoverageAnalysis;
    uint8_t flags;
    uint8_t byte27b;
    int32_t iSymGlobal;
    int32_t dnmStringBase;
    int32_t numDnmStrings;
    uint8_t numTables;
    STTable tables[STDBG_NUM_TABLES];

    // State.
    GFile *gf;
    char *name;
    int32_t config;
    uint8_t owned;
    uint8_t loaded;
    uint8_t *image;
    int64_t imageSize;
    int64_t hdrPos;  // container offset of the header after the magic string
    int64_t dirPos;  // container offset of the table directory
    STDnm *dnm;      // name file whose strings the object may refer to

    // Loading and attaching.
    STSymTab *symTab;
    int32_t iDlo;  // index of its entry in the name file's "Dlo Files", or -1
    STDnm_DloFile *dlo;
    uint32_t tablesLoaded;  // bit i: table i was read (0x1FFFFF: all)
    int32_t loadType;
    int32_t refCount;  // 1 after a successful load
};

const char *STDbg_TableName(int index);
int STDbg_TableDouble(STDbg *dbg, int index, int32_t newMax);

STDbg *STDbg_Open(STDbg *dbg, FILE *fp, const char *path, int32_t config, int quiet, int reopen);
STDbg *STDbg_Read(STDbg *dbg);
STDbg *STDbg_Load(STDbg *dbg, FILE *fp, const char *path, int32_t config);
int STDbg_CheckHeadSanity(STDbg *dbg);
int STDbg_CheckSanity(STDbg *dbg);
int STDbg_CheckProcSanity(STDbg *dbg, const STDbg_Proc *p);
void STDbg_Free(STDbg *dbg);

const char *STDbg_String(const STDbg *dbg, uint64_t iss);
const STDbg_Proc *STDbg_Procs(const STDbg *dbg, int32_t *count);
const char *ST_ProcUseName(const STDbg_Proc *p);

// Building and writing (kind GF_KIND_DBG or GF_KIND_DBO).
STDbg *STDbg_Create(uint32_t kind);
uint32_t STDbg_AddString(STDbg *dbg, const char *s);
STIndex STDbg_AddProc(STDbg *dbg, const STDbg_Proc *p);
void STDbg_SetOpaqueTable(STDbg *dbg, int index, int32_t max, uint32_t aux, const uint8_t *bytes, int64_t size);
int STDbg_Write(STDbg *dbg, FILE *fp, const char *path, const GFileOptions &opt, uint8_t **image = nullptr,
                int64_t *size = nullptr);

// ------------------------------------------------------------ loading and attaching

enum : int32_t {
    ST_LOADTYPE_PERMANENT = 1,  // load types 0 and 2-5 use temporary slots
    ST_NUM_LOAD_TYPES = 6,
    ST_DEFAULT_LOAD_CONFIG = 20,  // ST_defaultLoadConfig: no override
};
constexpr uint32_t STDBG_ALL_TABLES = (1u << STDBG_NUM_TABLES) - 1;
constexpr const char *ST_SPECIAL_DNM_NAME = "_special.dnm";

// The one .dla kept open while a cached phase lasts.
struct STDlaCache {
    int32_t nesting;
    int32_t slot;  // of the name file whose archive is open, -1 for none
    FILE *fp;
};

struct STSymTab {
    STDnm **dnms;  // attached name files by slot; a slot may be empty
    int32_t numSlots;
    STDnm **detached;
    int32_t numDetached;
    int32_t *order;  // search order: slots of the attached name files
    int32_t numOrder;
    STDbg *temp[ST_NUM_LOAD_TYPES];  // temporary load slots by load type
    STDlaCache dla;
    int32_t language;  // 31 at creation
    int32_t wcharSize;
    int32_t wcharSigned;
    uint8_t wcharKnown;
};

STSymTab *ST_CreateSymTab(void *a = nullptr, void *b = nullptr, void *c = nullptr, void *d = nullptr);
void ST_DestroySymTab(STSymTab *symTab);

// Loads a name file (by its path, or the program path with ".dnm") and,
// with a symbol table, attaches it; a name file the table refuses stays
// with the table's detached ones.
STDnm *ST_LoadDnmFile(STSymTab *symTab, const char *progPath, const char *dnmPath, int32_t config, int replace);
// 0 attached (or the same one already is), 1 missing argument, 7 refused.
int ST_AttachDnm(STSymTab *symTab, STDnm *dnm, int replace, int checkOverlaps);
void ST_DetachDnm(STSymTab *symTab, STDnm *dnm, int release);
void ST_UnloadDnm(STSymTab *symTab, STDnm *dnm, int release);
void STDnm_AttachTo(STDnm *dnm);
void STDnm_DetachFrom(STDnm *dnm);
// Drops the debug objects the name file holds and releases it.
void STDnm_Free(STDnm *dnm);
void STDbg_AttachTo(STDbg *dbg);
void STDbg_DetachFrom(STDbg *dbg);
// The value of an attribute of the name file, or null when it has none
// (or its "Attributes" records were not read).
const char *STDnm_Attribute(const STDnm *dnm, const char *name);
// Takes the wchar_t attributes of an attached name file into the table:
// 0 when they are valid or absent, 1 after a warning.
int ST_NoteWcharAttributes(STSymTab *symTab, const char *sizeText, const char *signedText);

// Debug objects listed in a name file, loaded from its .dla.
STDbg *ST_LoadDloFile(STDnm *dnm, int32_t iDlo, int32_t config, int32_t loadType);
STDbg *ST_LoadDloFileFromDloFileInfo(STDnm_DloFile *entry, int32_t config, int32_t loadType);
// Unloads a listed debug object (its entry forgets it).
void ST_UnloadDloFile(STDnm_DloFile *entry);
int ST_UnloadTempDloFilesFromLoadType(STSymTab *symTab, int32_t loadType);
// Opens the debug object at the stream's position and reads it when its
// magic string is the one expected.
STDbg *STDbg_OpenChecked(FILE *fp, const char *path, int32_t config, const char *magic, int allowStale);
// Cached phases of the symbol table's .dla handle.
void ST_BeginDlaCaching(STSymTab *symTab);
void ST_EndDlaCaching(STSymTab *symTab);

// A debug object met directly in the input, at the current position of fp;
// its name file (the archive path with ".dnm") is loaded into *dnm when the
// object belongs to one and it is not held yet. Every such load gives a
// name-file object of its own, in the state a read of the file gives; the
// library may serve it from what an earlier load released (st_dnm_cache).
STDbg *ST_LoadDboFromDla(STSymTab *symTab, STDnm **dnm, FILE *fp, const char *memberPath, const char *archivePath,
                         uint64_t memberOffset, int32_t config);
void ST_UnloadDboFromDla(STDbg *dbg, STDnm **dnm, int release);

// The walk over all procedures of all attached name files.
struct STProcIter {
    STSymTab *symTab;
    const void *filter;
    int32_t config;
    int32_t loadType;
    int32_t iOrder;  // position in the search order
    int32_t iDlo;    // entry of the current name file
    STDbg *dbg;      // the debug object being walked
    int32_t iProc;
};

void ST_ProcIterInit(STProcIter *iter, STSymTab *symTab, const void *filter, int32_t config, int unloadTemps);
const STDbg_Proc *ST_ProcIterNext(STProcIter *iter);
void ST_ProcIterEnd(STProcIter *iter);
