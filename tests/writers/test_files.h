// Small helpers shared by the reader and handler tests: byte strings as
// open files, a handler run with its output captured, what a call writes to
// standard error, and strings the library allocated.
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "elf.h"
#include "objfile.h"

namespace testing_support {

struct FileCloser {
    void operator()(FILE *f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

// An anonymous temporary file holding `bytes`, positioned at `at`.
File open_bytes(const std::string &bytes, long at = 0);

// Runs `f` and gives what it wrote to standard error.
std::string stderr_of(const std::function<void()> &f);

// A string the library allocated for the caller (freed here) as text;
// "<null>" for a null pointer.
std::string take(char *s);

struct HandlerOutcome {
    int result;
    std::string out;
    std::string err;
};

// One report line in the default format ("%-20s %7lld\n"), for a name of any
// length.
std::string report_line(const std::string &name, long long size);

// A fixture for the tests of one format handler: a fresh report state (a
// new function table, every option at its start value) for every test, and
// an input named "test.o" (member "member.o") identified by `ident_`.
class HandlerTest : public testing::Test {
  protected:
    explicit HandlerTest(format_handler handler) : handler_(handler) {}
    void SetUp() override;
    void TearDown() override;
    // Runs the handler on `bytes`: the reading handle starts at `at`, the
    // second handle at 0. Standard output and error are captured.
    HandlerOutcome run(const std::string &bytes, long at = 0);
    std::string out(const std::string &bytes) { return run(bytes).out; }

    format_handler handler_;
    file_ident ident_{};
    input_desc desc_{};
};

// Installs a status pointer for the ELF reader's primitives while it lives,
// so that a failed read sets `status` instead of ending the program.
class Silent {
  public:
    Silent() : previous_(elf_get_status()) { elf_set_status(&status); }
    ~Silent() { elf_set_status(previous_); }
    Silent(const Silent &) = delete;
    Silent &operator=(const Silent &) = delete;
    int status = 0;

  private:
    int *previous_;
};

}  // namespace testing_support
