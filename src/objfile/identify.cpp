// File identification: decides from the leading bytes of an input which
// format handler reads it, in which byte order its headers are stored, its
// word size, its target processor and whether its C names carry a leading
// underscore.
//
// Identification is silent: a file it cannot place gets a file type that the
// dispatcher hands to the default handler. Its only message is the one about
// archives damaged by carriage-return conversion.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <iterator>
#include <span>
#include <string_view>

#include "bytes.h"
#include "coff.h"
#include "elf.h"
#include "genout.h"
#include "identify.h"
#include "identify_tables.h"
#include "indgen.h"
#include "instream.h"
#include "machine_types.h"

namespace {

// Bit 31 of a RISC-V file's e_flags is replaced by its word size (set for
// 64-bit files) so that one table tells 32- from 64-bit targets.
constexpr uint32_t RISCV_WORD64_FLAG = 0x80000000;

file_ident ident;

// The input being identified: its stream and the offset it starts at (an
// archive member's start, or 0).
struct Input {
    InStream &stream;
    uint64_t start;

    // n bytes at an offset from the input's start, clipped to the end of the
    // stream: bytes past it read as zero and are not counted.
    size_t read(uint64_t off, uint8_t *buf, size_t n) const {
        if (off > UINT64_MAX - start) {
            std::memset(buf, 0, n);
            return 0;
        }
        return stream.read_at(start + off, buf, n);
    }
};

// --- ELF ------------------------------------------------------------------

const ident_tables::elf_machine_row &find_elf_machine(uint32_t e_machine, uint32_t e_flags) {
    for (const auto &row : ident_tables::elf_machines) {
        if (row.e_machine == 0) return row;
        if (row.e_machine == e_machine && (row.flags_mask == 0 || (e_flags & row.flags_mask) == row.flags_value))
            return row;
    }
    return std::end(ident_tables::elf_machines)[-1];
}

// The file header of the ELF image at the input's start, read by the ELF
// reader under the private status that identify_file installed. False when
// the reader recorded an error (a damaged header, or a section count from
// section 0 that does not fit in 32 bits).
bool read_elf_header(FILE *f, const Input &in, elf_header &h) {
    int *status = elf_get_status();
    *status = 0;
    const int elf_class = elf_class_of(f, in.start, nullptr);
    in.stream.seek(int64_t(in.start));
    return genelf_readXheader(f, in.start, &h, elf_class) && *status == 0;
}

// `head` holds the input's first bytes (zero where the file ends).
void identify_elf(FILE *f, const Input &in, const uint8_t *head) {
    elf_header h{};
    bool ok = read_elf_header(f, in, h);
    // A header that cannot be read leaves an ELF file of unknown machine.
    uint32_t e_machine = ok ? h.e_machine : 0;
    uint32_t e_flags = ok ? h.e_flags : 0;
    uint32_t e_type = ok ? h.e_type : 0;
    uint8_t ei_class = head[EI_CLASS];
    uint8_t ei_data = head[EI_DATA];

    if (e_machine == EM_RISCV) {
        if (ei_class == ELFCLASS64)
            e_flags |= RISCV_WORD64_FLAG;
        else
            e_flags &= ~RISCV_WORD64_FLAG;
    }
    const auto &row = find_elf_machine(e_machine, e_flags);

    ident.machine = e_machine;
    ident.machine_type = row.machine_type;
    ident.big_endian = ei_data != ELFDATA2LSB;
    if (e_machine == EM_TRICORE || e_machine == EM_AARCH64)
        ident.code_big_endian = 0;
    else if (e_machine == EM_ARM && (e_flags & EF_ARM_BE8))
        ident.code_big_endian = !ident.big_endian;  // BE8: big-endian data, little-endian code
    else
        ident.code_big_endian = ident.big_endian;
    ident.elf_class = ei_class == ELFCLASS32 ? 32 : ei_class == ELFCLASS64 ? 64 : 0;
    ident.flag14 = row.flag14;
    ident.leading_underscore = row.leading_underscore;
    ident.cpu_family = row.cpu_family;
    ident.short_name = row.short_name;
    ident.arch_family = row.arch_family;
    ident.arch_variant = row.arch_variant;
    ident.file_type = FT_ELF;
    ident.symbol_entry_size = 0;
    ident.flags = e_flags;
    ident.object_kind = e_type >= OBJ_KIND_RELOCATABLE && e_type <= OBJ_KIND_CORE ? e_type : OBJ_KIND_OTHER;
}

bool is_rel_name(const uint8_t *name) {
    return std::tolower(name[0]) == 'r' && std::tolower(name[1]) == 'e' && std::tolower(name[2]) == 'l' &&
           name[3] == 0;
}

// Bits of one "REL" note of ".note.renesas".
uint32_t renesas_bits(uint32_t type, uint32_t value) {
    if (type == 3 && value >= 1 && value <= 3) return 0x01;
    if (type == 4 && value == 1) return 0x02;
    if (type == 4 && value == 2) return 0x10;
    if (type == 11 && value == 1) return 0x20;
    return 0;
}

// Gathers the bits of the "REL" notes of the section ".note.renesas" into
// renesas_flags. The section is looked up in the ELF image at the very start
// of the file; for an archive member that is the archive's magic, so nothing
// is found. Notes follow each other without alignment padding; a note cut
// off by the end of the file ends the scan.
void scan_renesas_note(FILE *f, const Input &in) {
    elf_section_header *s = elf_find_section(f, ".note.renesas", 0);
    if (!s) return;
    // The byte order is the one of the header just read.
    const bool big = elf_get_byte_order() == ELF_BIG_ENDIAN;
    uint64_t pos = s->sh_offset;
    uint64_t left = s->sh_size;
    gen_free_fn(s);
    while (left >= 12) {
        uint8_t buf[12];
        if (pos > UINT64_MAX - 12 || in.stream.read_at(pos, buf, 12) != 12) break;
        bytes::Cursor c({buf, 12}, big);
        uint32_t namesz = c.u32();
        uint32_t descsz = c.u32();
        uint32_t type = c.u32();
        pos += 12;
        left -= 12;
        uint64_t body = uint64_t(namesz) + descsz;
        if (namesz == 4 && descsz == 4) {
            uint8_t note[8];
            if (in.stream.read_at(pos, note, 8) != 8) break;
            if (is_rel_name(note)) ident.renesas_flags |= renesas_bits(type, bytes::load32(note + 4, big));
        }
        if (body > left || pos > UINT64_MAX - body) break;
        pos += body;
        left -= body;
    }
}

// --- COFF, PE and a.out --------------------------------------------------

const ident_tables::magic2_row *find_magic2(uint8_t b0, uint8_t b1) {
    for (const auto &row : ident_tables::magic2)
        if (row.b0 == b0 && row.b1 == b1) return &row;
    return nullptr;
}

const ident_tables::magic4_row *find_magic4(std::span<const ident_tables::magic4_row> table, const uint8_t *b) {
    for (const auto &row : table)
        if (std::memcmp(row.b, b, 4) == 0) return &row;
    return nullptr;
}

void take_target(const ident_tables::magic2_row &row) {
    ident.machine_type = row.machine_type;
    ident.code_big_endian = row.code_big_endian;
    ident.big_endian = row.big_endian;
    ident.flag14 = row.flag14;
    ident.leading_underscore = row.leading_underscore;
    ident.cpu_family = row.cpu_family;
    ident.elf_class = row.machine_type == MT_X86_64 ? 64 : 32;
}

// A two-byte magic matched. False for an MZ stub without a PE header.
bool identify_coff(const Input &in, const ident_tables::magic2_row &row) {
    ident.machine = row.machine;
    ident.file_type = row.file_type;
    ident.symbol_entry_size = row.symbol_entry_size;
    take_target(row);

    // The COFF file header: at the start, or behind the PE signature.
    uint8_t raw[PE_SIGNATURE_SIZE + FILHSZ];
    const uint8_t *header = raw;
    if (row.file_type == FT_PE) {
        uint8_t field[4];
        in.read(PE_OFFSET_FIELD, field, 4);
        uint64_t pe = bytes::load32(field, row.big_endian);
        if (in.read(pe, raw, sizeof raw) < PE_SIGNATURE_SIZE || std::memcmp(raw, "PE\0\0", 4) != 0) return false;
        header = raw + PE_SIGNATURE_SIZE;
        // The target comes from the machine field of the COFF header.
        if (const auto *target = find_magic2(header[0], header[1])) take_target(*target);
    } else {
        in.read(0, raw, FILHSZ);
    }
    // Bytes the file does not hold read as zero.
    const uint16_t flags = coff_decode_file_header(header, FILHSZ, ident.big_endian, false).f_flags;
    ident.flags = uint32_t(int32_t(int16_t(flags)));
    if (row.file_type == FT_PE && (flags & IMAGE_FILE_DLL))
        ident.object_kind = OBJ_KIND_SHARED;
    else if (flags & F_EXEC)
        ident.object_kind = OBJ_KIND_EXECUTABLE;
    else if (flags & F_RELFLG)
        ident.object_kind = OBJ_KIND_OTHER;
    else
        ident.object_kind = OBJ_KIND_RELOCATABLE;
    return true;
}

// Profile data is known by its name alone: machine type 122 or 123, or 0.
uint32_t profile_machine_type(const char *name) {
    const char *dot = name ? std::strrchr(name, '.') : nullptr;
    if (!dot) return 0;
    if (gen_strequal_nocase(dot + 1, "pro") || gen_strequal_nocase(dot + 1, "dbp")) return MT_PROFILE_PRO;
    if (gen_strequal_nocase(dot + 1, "gpro")) return MT_PROFILE_GPRO;
    return 0;
}

// No two-byte magic matched: a.out, then the tool chain's data files.
void identify_other(const uint8_t *b, const char *name) {
    const auto *row = find_magic4(ident_tables::aout_magics, b);
    ident.machine = row ? row->machine : 0;
    ident.machine_type = row ? row->machine_type : 0;
    ident.cpu_family = row ? row->cpu_family : 0;
    ident.leading_underscore = row ? row->leading_underscore : 0;
    ident.code_big_endian = ident.big_endian = row ? row->big_endian : 0;
    ident.flag14 = 1;
    ident.elf_class = 32;
    ident.flags = 0;
    ident.object_kind = OBJ_KIND_OTHER;
    if (row) {
        ident.symbol_entry_size = 12;
        ident.file_type = FT_AOUT;
        return;
    }
    ident.symbol_entry_size = 0;
    if (uint32_t mt = profile_machine_type(name)) {
        ident.machine_type = mt;
        ident.file_type = FT_PROFILE_DATA;
    } else {
        ident.file_type = FT_UNKNOWN_OTHER;
    }

    auto data_file = [](uint32_t machine_type) {
        ident.file_type = FT_DEBUG_INFO;
        ident.object_kind = OBJ_KIND_DATA;
        ident.machine_type = machine_type;
    };
    uint8_t low = b[0] | b[1];
    if (low == 1 || low == 2 || low == 4)
        data_file(120);  // post-mortem event data
    else if (low == 3)
        data_file(121);  // live event data
    else if (std::memcmp(b, "INT\0", 4) == 0)
        data_file(126);  // raw event stream
    else if (std::memcmp(b, "VLG\0", 4) == 0)
        data_file(142);  // operating-system event log
    else if (const auto *be = find_magic4(ident_tables::big_endian_magics, b)) {
        ident.file_type = FT_BE_0210;
        ident.object_kind = OBJ_KIND_EXECUTABLE;
        ident.machine = be->machine;
        ident.machine_type = be->machine_type;
        ident.cpu_family = be->cpu_family;
        ident.code_big_endian = ident.big_endian = 1;
        ident.flag14 = 0;
        ident.leading_underscore = 0;
        ident.elf_class = 32;
        ident.symbol_entry_size = 0;
        ident.flags = 0;
    }
}

// The debug-information container: its file-kind word (bytes 8-11, big
// endian) names the kind of file.
void identify_debug_info(const uint8_t *head) {
    static constexpr uint32_t kinds[] = {MT_DEBUG_DBG, MT_DEBUG_DBO, MT_DEBUG_DNM, 105, 106, 107, 128};  // file kinds 1 to 7
    uint32_t kind = bytes::load32(head + 8, true);
    ident.machine = kind;
    if (kind >= 1 && kind <= std::size(kinds)) {
        ident.file_type = FT_DEBUG_INFO;
        ident.object_kind = OBJ_KIND_DATA;
        ident.machine_type = kinds[kind - 1];
    } else {
        ident.file_type = FT_UNKNOWN_OTHER;
        ident.object_kind = OBJ_KIND_OTHER;
        ident.machine_type = 0;
    }
}

// The empty first entry of a Windows resource file, in 32 bytes.
bool is_resource_header(const uint8_t *head, size_t got) {
    if (got < 32) return false;
    bytes::Cursor c({head, 32}, false, 4);
    uint32_t size = c.u32();
    uint32_t type = c.u32();
    uint32_t name = c.u32();
    bool rest_zero = c.u32() == 0 && c.u32() == 0 && c.u32() == 0 && c.u32() == 0;
    return size == 32 && type == 0xFFFF && name == 0xFFFF && rest_zero;
}

uint32_t archive_file_type(int kind) {
    switch (kind) {
    case ARCHIVE_KIND_ARCH: return FT_ARCHIVE;
    case ARCHIVE_KIND_AIX: return FT_AIX_ARCHIVE;
    case ARCHIVE_KIND_ELFA: return FT_ELFA_ARCHIVE;
    case ARCHIVE_KIND_ARCH64: return FT_ARCH64_ARCHIVE;
    case ARCHIVE_KIND_DAMAGED: return FT_UNKNOWN_OTHER;
    default: return FT_UNKNOWN;
    }
}

// Identifies the input that starts at the handle's current position. Null
// only for an MZ stub without a PE header.
file_ident *identify_at(FILE *f, const char *name) {
    // Every field is written afresh except ti_coff, which only the COFF
    // handler clears.
    uint32_t ti_coff = ident.ti_coff;
    ident = file_ident{};
    ident.ti_coff = ti_coff;

    InStream stream(f);
    int64_t start = stream.tell();
    const Input in{stream, start > 0 ? uint64_t(start) : 0};
    int kind = get_archive_kind(f, name);
    uint8_t head[ELF64_EHDR_SIZE];
    size_t got = in.read(0, head, sizeof head);
    const uint8_t *b = head;

    if (kind != ARCHIVE_KIND_NONE) {
        ident.file_type = archive_file_type(kind);
        ident.machine_type = 0;
    } else if (std::memcmp(b, "\x7f" "LKS", 4) == 0) {
        identify_debug_info(head);
    } else if (std::memcmp(b, "\0\0\2X", 4) == 0) {
        ident.file_type = FT_002X;
    } else if (std::memcmp(b, "\0\0\xff\xff", 4) == 0) {
        ident.file_type = FT_IMPORT_OBJECT;
    } else if (std::memcmp(b, "\0\0\0\0", 4) == 0 && is_resource_header(head, got)) {
        ident.file_type = FT_RESOURCE;
        ident.machine_type = MT_RESOURCE;
    } else if (std::memcmp(b, "\x7f" "ELF", 4) == 0) {
        identify_elf(f, in, head);
    } else if (const auto *row = find_magic2(b[0], b[1])) {
        if (!identify_coff(in, *row)) return nullptr;
    } else {
        identify_other(b, name);
    }

    ident.magic[0] = b[0];
    ident.magic[1] = b[1];
    if (ident.machine_type != 0) {
        if (ident.machine_type == MT_RENESAS_V850 && ident.file_type == FT_ELF) scan_renesas_note(f, in);
        if (ident.machine_type == MT_TI && ident.file_type == FT_COFF) ident.ti_coff = 1;
    } else if (ident.file_type != FT_ELF && ident.file_type != FT_DEBUG_INFO) {
        ident.machine = uint32_t(b[1]) << 8 | b[0];
    }
    return &ident;
}

constexpr std::string_view archive_magics[] = {"!<arch>\n", "<aiaff>\n", "!<elfa>\n", "!<arch64>\n"};
constexpr std::string_view damaged_archive_magics[] = {"!<arch>\r\n", "!<elfa>\r\n", "<aiaff>\r\n", "!<arch64>\r\n"};

}  // namespace

int get_archive_kind(FILE *f, const char *name) {
    if (!f) return ARCHIVE_KIND_NONE;
    InStream in(f);
    int64_t here = in.tell();
    char buf[12] = {};
    size_t got = in.read(buf, 11);
    buf[got] = 0;
    if (here >= 0) in.try_seek(here);

    // The bytes are compared as a string: a NUL ends them.
    std::string_view text(buf);
    std::string_view first4(buf, 4);
    bool archive_like = std::any_of(std::begin(archive_magics), std::end(archive_magics),
                                    [&](std::string_view m) { return m.substr(0, 4) == first4; });
    if (!archive_like) return ARCHIVE_KIND_NONE;
    for (size_t i = 0; i < std::size(archive_magics); ++i)
        if (text.starts_with(archive_magics[i])) return ARCHIVE_KIND_ARCH + int(i);
    for (std::string_view m : damaged_archive_magics) {
        if (text.starts_with(m)) {
            gen_error("archive file '%s' has had carriage-returns (\\r)\n"
                      "\tinserted before new-lines (\\n) and is unusable.\n"
                      "\tNOTE: This can be caused by some Windows archive managers, which\n"
                      "\tcan corrupt binary files unless automatic CR/LF conversion is\n"
                      "\texplicitly disabled.\n",
                      name ? name : "<unknown>");
            return ARCHIVE_KIND_DAMAGED;
        }
    }
    return ARCHIVE_KIND_ALMOST;
}

namespace {

// Identification is silent: while it runs, the ELF reader records its errors
// in a status of identification's own. The caller's status pointer and the
// value it holds are given back unchanged.
class PrivateElfStatus {
  public:
    PrivateElfStatus() : previous_(elf_get_status()), previous_value_(previous_ ? *previous_ : 0) {
        elf_set_status(&status_);
    }
    ~PrivateElfStatus() {
        elf_set_status(previous_);
        if (previous_) *previous_ = previous_value_;
    }
    PrivateElfStatus(const PrivateElfStatus &) = delete;
    PrivateElfStatus &operator=(const PrivateElfStatus &) = delete;

  private:
    int status_ = 0;
    int *previous_;
    int previous_value_;
};

}  // namespace

file_ident *identify_file(FILE *f, const char *name) {
    if (f) {
        int64_t start = gen_ftell64(f);
        file_ident *result;
        {
            PrivateElfStatus quiet;
            result = identify_at(f, name);
        }
        if (start >= 0) gen_fseek64(f, start, SEEK_SET);
        return result;
    }
    if (!name) return nullptr;
    FILE *own = gen_fopen(name, "rb");
    if (!own) return nullptr;
    file_ident *result;
    {
        PrivateElfStatus quiet;
        result = identify_at(own, name);
    }
    std::fclose(own);
    return result;
}

const char *machine_type_name(uint32_t code) {
    for (const auto &row : ident_tables::machine_names)
        if (row.code == code || row.code == 0) return row.name;
    return "unknown machine type";
}
