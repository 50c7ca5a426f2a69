// Output of the comparison's forms, gathered and handed to the stream in
// large blocks.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace fdiff {

class BlockWriter {
  public:
    explicit BlockWriter(FILE *out) : out_(out) { text_.reserve(block + block / 4); }
    BlockWriter(const BlockWriter &) = delete;
    BlockWriter &operator=(const BlockWriter &) = delete;

    BlockWriter &operator<<(std::string_view s) {
        text_.append(s);
        spill();
        return *this;
    }
    BlockWriter &pad(size_t n) {
        text_.append(n, ' ');
        return *this;
    }
    // The text gathered so far, for appending to in place; spill() after.
    std::string &text() { return text_; }
    // Writes out what has gathered once it is a block.
    void spill() {
        if (text_.size() >= block) write();
    }
    // Writes out the rest; false when any write or the stream failed.
    bool finish() {
        write();
        return ok_ && std::fflush(out_) == 0 && !std::ferror(out_);
    }

  private:
    static constexpr size_t block = size_t(1) << 20;
    void write() {
        if (!text_.empty() && std::fwrite(text_.data(), 1, text_.size(), out_) != text_.size()) ok_ = false;
        text_.clear();
    }
    FILE *out_;
    std::string text_;
    bool ok_ = true;
};

}  // namespace fdiff
