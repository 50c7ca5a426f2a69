// ELF reader: file header, section headers, section names and symbol tables
// of both classes and both byte orders, widened into one 64-bit host-order
// form so that callers never look at the class or byte order again.
//
// Every read takes the file offset of the ELF image (0 for a plain file, the
// member's data offset inside an archive). Counts and offsets read from the
// file are checked against the size of the file before anything is allocated
// or read. Errors go through elf_error: fatal (status 1) unless the caller
// installed a status pointer with elf_set_status, in which case the int is set
// to -1 and the reader returns null.
#pragma once

#include <cstdint>
#include <cstdio>

// Identification bytes.
inline constexpr int EI_MAG0 = 0;
inline constexpr int EI_MAG1 = 1;
inline constexpr int EI_MAG2 = 2;
inline constexpr int EI_MAG3 = 3;
inline constexpr int EI_CLASS = 4;
inline constexpr int EI_DATA = 5;
inline constexpr int EI_VERSION = 6;
inline constexpr int EI_OSABI = 7;
inline constexpr int EI_NIDENT = 16;
inline constexpr uint8_t ELFMAG0 = 0x7f;
inline constexpr uint8_t ELFMAG1 = 'E';
inline constexpr uint8_t ELFMAG2 = 'L';
inline constexpr uint8_t ELFMAG3 = 'F';
inline constexpr uint8_t ELFCLASSNONE = 0;
inline constexpr uint8_t ELFCLASS32 = 1;
inline constexpr uint8_t ELFCLASS64 = 2;
inline constexpr uint8_t ELFDATANONE = 0;
inline constexpr uint8_t ELFDATA2LSB = 1;
inline constexpr uint8_t ELFDATA2MSB = 2;
inline constexpr uint8_t EV_CURRENT = 1;

// Object file types (e_type).
inline constexpr uint16_t ET_NONE = 0;
inline constexpr uint16_t ET_REL = 1;
inline constexpr uint16_t ET_EXEC = 2;
inline constexpr uint16_t ET_DYN = 3;
inline constexpr uint16_t ET_CORE = 4;

// Machines (e_machine) that the readers and the identification name.
inline constexpr uint16_t EM_NONE = 0;
inline constexpr uint16_t EM_SPARC = 2;
inline constexpr uint16_t EM_386 = 3;
inline constexpr uint16_t EM_68K = 4;
inline constexpr uint16_t EM_MIPS = 8;
inline constexpr uint16_t EM_PPC = 20;
inline constexpr uint16_t EM_PPC64 = 21;
inline constexpr uint16_t EM_ARM = 40;
inline constexpr uint16_t EM_SH = 42;
inline constexpr uint16_t EM_SPARCV9 = 43;
inline constexpr uint16_t EM_TRICORE = 44;
inline constexpr uint16_t EM_X86_64 = 62;
inline constexpr uint16_t EM_V850 = 87;
inline constexpr uint16_t EM_AARCH64 = 183;
inline constexpr uint16_t EM_RISCV = 243;

// Processor-specific flags (e_flags).
inline constexpr uint32_t EF_ARM_BE8 = 0x00800000;  // big-endian data, little-endian code

// Special section indices.
inline constexpr uint32_t SHN_UNDEF = 0;
inline constexpr uint32_t SHN_LORESERVE = 0xff00;
inline constexpr uint32_t SHN_ABS = 0xfff1;
inline constexpr uint32_t SHN_COMMON = 0xfff2;
inline constexpr uint32_t SHN_XINDEX = 0xffff;
inline constexpr uint32_t SHN_HIRESERVE = 0xffff;

// Section types (sh_type).
inline constexpr uint32_t SHT_NULL = 0;
inline constexpr uint32_t SHT_PROGBITS = 1;
inline constexpr uint32_t SHT_SYMTAB = 2;
inline constexpr uint32_t SHT_STRTAB = 3;
inline constexpr uint32_t SHT_RELA = 4;
inline constexpr uint32_t SHT_HASH = 5;
inline constexpr uint32_t SHT_DYNAMIC = 6;
inline constexpr uint32_t SHT_NOTE = 7;
inline constexpr uint32_t SHT_NOBITS = 8;
inline constexpr uint32_t SHT_REL = 9;
inline constexpr uint32_t SHT_DYNSYM = 11;
inline constexpr uint32_t SHT_SYMTAB_SHNDX = 18;

// Section flags (sh_flags).
inline constexpr uint64_t SHF_WRITE = 0x1;
inline constexpr uint64_t SHF_ALLOC = 0x2;
inline constexpr uint64_t SHF_EXECINSTR = 0x4;

// Symbol types and bindings (st_info = bind << 4 | type).
inline constexpr uint8_t STT_NOTYPE = 0;
inline constexpr uint8_t STT_OBJECT = 1;
inline constexpr uint8_t STT_FUNC = 2;
inline constexpr uint8_t STT_SECTION = 3;
inline constexpr uint8_t STT_FILE = 4;
inline constexpr uint8_t STB_LOCAL = 0;
inline constexpr uint8_t STB_GLOBAL = 1;
inline constexpr uint8_t STB_WEAK = 2;
constexpr uint8_t elf_st_type(uint8_t info) { return info & 0xf; }
constexpr uint8_t elf_st_bind(uint8_t info) { return info >> 4; }
constexpr uint8_t elf_st_info(uint8_t bind, uint8_t type) { return uint8_t(bind << 4 | (type & 0xf)); }

// On-disk sizes of the standard entries.
inline constexpr uint32_t ELF32_EHDR_SIZE = 52;
inline constexpr uint32_t ELF64_EHDR_SIZE = 64;
inline constexpr uint32_t ELF32_SHDR_SIZE = 40;
inline constexpr uint32_t ELF64_SHDR_SIZE = 64;
inline constexpr uint32_t ELF32_SYM_SIZE = 16;
inline constexpr uint32_t ELF64_SYM_SIZE = 24;

// Byte orders of the reader (the same codes as the object-file library's).
inline constexpr int ELF_BIG_ENDIAN = 1;
inline constexpr int ELF_LITTLE_ENDIAN = 2;

// The file header, widened. e_shnum and e_shstrndx are 32-bit because
// extended numbering can take them past 16 bits.
struct elf_header {
    uint8_t e_ident[EI_NIDENT];
    uint16_t e_type;
    uint16_t e_machine;
    uint32_t e_version;
    uint64_t e_entry;
    uint64_t e_phoff;
    uint64_t e_shoff;
    uint32_t e_flags;
    uint16_t e_ehsize;
    uint16_t e_phentsize;
    uint16_t e_phnum;
    uint16_t e_shentsize;
    uint32_t e_shnum;
    uint32_t e_shstrndx;
};

// One section header in the ELF64 layout.
struct elf_section_header {
    uint32_t sh_name;
    uint32_t sh_type;
    uint64_t sh_flags;
    uint64_t sh_addr;
    uint64_t sh_offset;
    uint64_t sh_size;
    uint32_t sh_link;
    uint32_t sh_info;
    uint64_t sh_addralign;
    uint64_t sh_entsize;
};

// One symbol, widened. st_shndx: ordinary indices as stored, SHN_XINDEX
// resolved through the SYMTAB_SHNDX section, the other reserved indices
// 0xff00..0xfffe mapped to index - 0x10000 (SHN_ABS is -15).
struct elf_symbol {
    uint32_t st_name;
    uint8_t st_info;
    uint8_t st_other;
    int32_t st_shndx;
    uint64_t st_value;
    uint64_t st_size;
};

static_assert(sizeof(elf_section_header) == 64);
static_assert(sizeof(elf_symbol) == 32);

// Error policy. elf_set_status installs a status pointer (null removes it)
// and sets the int to 0; it returns the pointer installed. elf_error counts
// the error and then either sets *status to -1 or ends the program (status 1).
int *elf_set_status(int *status);
int *elf_get_status();
void elf_error(const char *format, ...);
uint32_t elf_get_error_count();
// Counts an error without reporting it (for errors reported elsewhere).
void elf_count_error();

// The byte order used by every read of a multi-byte value: set by each file
// header read from EI_DATA (ELFDATA2MSB big, anything else little). Other
// readers that share the primitives (a.out) set it themselves.
void elf_set_byte_order(int order);
int elf_get_byte_order();

// Primitive reads in the current byte order; a byte at end of file reads as
// 0xff. Without a byte order: "internal, endian not set" and 0.
uint16_t elf_read_u16(FILE *f);
uint32_t elf_read_u32(FILE *f);
uint64_t elf_read_u64(FILE *f);

// Allocation for the reader: size 0 gives null; memory from gen_calloc_fn.
void *elf_alloc(uint64_t size);

// Reads exactly `size` bytes at the current position into `buffer`, or into
// a new allocation when `buffer` is null. A short read (or, before
// allocating, a size larger than what is left of the file) is an error and
// gives null.
void *elf_read_bytes(FILE *f, void *buffer, uint64_t size);

// True when the `size` bytes at image offset `offset` of the image at `base`
// lie inside the file (no overflow for any inputs).
bool elf_fits_in_file(FILE *f, uint64_t base, uint64_t offset, uint64_t size);

// Reads `size` bytes at image offset `offset` (checked seek naming
// `file_name`) into `buffer` or a new allocation. A range outside the file is
// reported as a short read before anything is allocated. Null on failure.
void *elf_read_at(FILE *f, const char *file_name, uint64_t base, uint64_t offset, void *buffer, uint64_t size);

// 32 or 64 from EI_CLASS of the image at `offset`, else -1. With a null
// handle the file `name` is opened for the call. The position is restored.
int elf_class_of(FILE *f, uint64_t offset, const char *name);

// Reads the file header at the current position (the caller has positioned
// `f` at `base`) into `out` or a new allocation. Resolves extended section
// numbering from section 0. Null on failure.
elf_header *genelf_readXheader(FILE *f, uint64_t base, elf_header *out, int elf_class);

// Reads `count` section headers at `offset` (-1: the current position) with
// on-disk entry size `entry_size` (0: the standard size; smaller than the
// standard size: null without a message) into `out` or a new allocation.
elf_section_header *elf_read_section_headers(FILE *f, elf_section_header *out, uint32_t count, int64_t offset,
                                             int entry_size, int elf_class);

// The name of section `index` as a new string; `shstrndx` and `index` must be
// indices into `headers`. The file position is restored.
char *elf_section_name(FILE *f, uint32_t shstrndx, elf_section_header *headers, uint32_t index, int64_t base);

// A copy (new allocation) of the first section header named `name`, or null.
elf_section_header *elf_find_section(FILE *f, const char *name, int64_t base);

// Walks the symbol table in section `symtab_index` a chunk at a time: each
// chunk of decoded symbols is handed to `visit`, which returns false to stop
// the walk. False when the table cannot be read (as for elf_read_symbols).
using elf_symbol_visitor = bool (*)(void *context, const elf_symbol *symbols, uint64_t count);
bool elf_walk_symbols(const char *file_name, FILE *f, int64_t base, elf_header *header, elf_section_header *sections,
                      uint32_t symtab_index, int elf_class, elf_symbol_visitor visit, void *context);

// Reads the symbol table in section `symtab_index` into `out` or a new
// allocation; *count_out (when given) receives the number of symbols. Null when there is no
// header or section table, the index is out of range, the table is empty,
// its entry size is smaller than the standard one, or a read fails.
elf_symbol *elf_read_symbols(const char *file_name, FILE *f, int64_t base, elf_symbol *out, elf_header *header,
                             elf_section_header *sections, uint32_t symtab_index, int elf_class, uint64_t *count_out);

// The SYMTAB_SHNDX entries that belong to the symbol table `symtab_index`, as
// a new allocation (*count_out receives their number), or null when the file
// has no such section. The file position is restored.
uint32_t *elf_read_symtab_shndx(const char *file_name, FILE *f, int64_t base, elf_header *header,
                                elf_section_header *sections, uint32_t symtab_index, uint64_t *count_out = nullptr);

// Below SHN_LORESERVE the index itself; 0xff00..0xffff: index - 0x10000.
int32_t elf_map_reserved_index(uint32_t index);
