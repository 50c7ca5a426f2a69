#include "test_files.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "funsize.h"
#include "indgen.h"

namespace testing_support {

File open_bytes(const std::string &bytes, long at) {
    File f(std::tmpfile());
    if (!f) throw std::runtime_error("tmpfile failed");
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f.get()) != bytes.size())
        throw std::runtime_error("tmpfile write failed");
    std::fseek(f.get(), at, SEEK_SET);
    return f;
}

std::string stderr_of(const std::function<void()> &f) {
    testing::internal::CaptureStderr();
    f();
    return testing::internal::GetCapturedStderr();
}

std::string take(char *s) {
    std::string text = s ? s : "<null>";
    gen_free_fn(s);
    return text;
}

HandlerOutcome HandlerTest::run(const std::string &bytes, long at) {
    File f = open_bytes(bytes, at);
    File f2 = open_bytes(bytes);
    HandlerOutcome o;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    o.result = handler_(f.get(), f2.get(), &desc_);
    std::fflush(stdout);
    o.err = testing::internal::GetCapturedStderr();
    o.out = testing::internal::GetCapturedStdout();
    return o;
}

void HandlerTest::SetUp() {
    funsize_init_table();
    opt_addr = opt_hex = opt_file = opt_gcompare = opt_nounderscores = opt_nosize = 0;
    opt_warnings = 1;
    opt_skip_dot_ppc64 = 1;
    opt_section_name = nullptr;
    opt_section_number = 0;
    in_archive_member = 0;
    ident_ = file_ident{};
    desc_ = input_desc{};
    desc_.name = const_cast<char *>("test.o");
    desc_.member_name = const_cast<char *>("member.o");
    desc_.ident = &ident_;
}

void HandlerTest::TearDown() {
    funsize_reset();
    funsize_free_sections();
    gen_free_fn(funsize_table.records);
    funsize_table = function_table{};
    opt_section_name = nullptr;
    opt_section_number = 0;
}

std::string report_line(const std::string &name, long long size) {
    char number[32];
    std::snprintf(number, sizeof number, " %7lld\n", size);
    return name + std::string(name.size() < 20 ? 20 - name.size() : 0, ' ') + number;
}

}  // namespace testing_support
