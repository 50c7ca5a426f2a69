// String-table names of one COFF image for the handler's symbol walk.
//
// The bytes from the start of the table on are read in blocks as names ask
// for them and kept while the object lives: a name that many symbols share
// is read once, and a name that ends inside one block is handed out where it
// lies. The names, their cuts and their failures are those of
// coff_read_string at the same base and offset; the length field of the
// table is not consulted, so a damaged one changes nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class coff_string_table {
  public:
    // Bytes read at a time, from base + a multiple of this on; a name of the
    // longest length spans at most two blocks.
    static constexpr size_t block_size = size_t(16) << 10;

    // Names at `base` + offset of `f`, which the table positions as it needs.
    coff_string_table(FILE *f, int64_t base) : f_(f), base_(base) {}
    coff_string_table(const coff_string_table &) = delete;
    coff_string_table &operator=(const coff_string_table &) = delete;

    // The NUL-terminated string at base + offset, at most COFF_NAME_MAX
    // characters, ended by a NUL, by that limit or by the end of the stream;
    // null when the stream ends (or cannot be read) before the first
    // character. With `lasting` the text stays valid and unchanged while the
    // table lives (a name that is not terminated where it lies is copied
    // once per offset); without, only until the next call.
    const char *name(uint32_t offset, bool lasting = true);

  private:
    struct Block {
        std::unique_ptr<char[]> bytes;
        uint32_t size = 0;  // less than a whole block: the stream ends behind it
    };
    const Block &block(uint64_t index);
    const char *keep(std::string_view text);

    FILE *f_;
    int64_t base_;
    std::unordered_map<uint64_t, Block> blocks_;
    uint64_t last_index_ = UINT64_MAX;
    const Block *last_ = nullptr;
    // Names that are not NUL-terminated within one block: the one put
    // together last, and the lasting copies by offset, in chunks that never
    // move.
    std::string scratch_;
    std::unordered_map<uint32_t, const char *> copies_;
    std::vector<std::unique_ptr<char[]>> chunks_;
    char *chunk_next_ = nullptr;
    size_t chunk_room_ = 0;
};
