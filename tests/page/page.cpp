#include "page.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <tuple>

#include "run_program.h"

namespace pagetest {

namespace fs = std::filesystem;
using testing_support::read_file;
using testing_support::write_file;

namespace {

std::string quoted(const std::string &s) { return std::string("'").append(s).append("'"); }

int chromium(const std::string &name, const std::string &options, const fs::path &page, const fs::path &output) {
    const fs::path profile = fs::path(FUNSIZE_PAGE_OUT) / ("profile-" + name);
    std::string command = quoted(FUNSIZE_CHROMIUM);
    command.append(" --headless --no-sandbox --disable-gpu --hide-scrollbars --window-size=1280,900")
        .append(" --user-data-dir=").append(quoted(profile.string()))
        .append(" ").append(options)
        .append(" ").append(quoted("file://" + page.string()))
        .append(" >").append(quoted(output.string()))
        .append(" 2>").append(quoted(output.string() + ".err"));
    const int status = std::system(command.c_str());
    fs::remove_all(profile);
    return status;
}

// The driver writes each value URI-encoded, so that the DOM dump holds it
// as it is.
std::string uri_decoded(const std::string &s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size()) {
            out.push_back(char(std::stoi(s.substr(i + 1, 2), nullptr, 16)));
            i += 2;
        } else {
            out.push_back(s[i]);
        }
    }
    return out;
}

}  // namespace

Compared::Compared(const std::vector<Fn> &fns, bool one_side) {
    std::map<std::tuple<bool, std::string, std::string>, uint32_t> units;
    const auto put = [&](fdiff::Side &side, bool is_new, const Fn &f, int64_t size) {
        if (size < 0) return;
        const auto [it, fresh] = units.try_emplace({is_new, f.path, f.member}, 0);
        if (fresh) it->second = side.add_unit(f.path, f.member, false);
        side.add(it->second, f.name, uint64_t(size));
    };
    for (const Fn &f : fns) put(old_side, false, f, f.old_size), put(new_side, true, f, f.new_size);
    comparison = fdiff::compare(old_side, new_side, true);
    comparison.one_side = one_side;
}

std::string page_of(const fdiff::Comparison &c) {
    FILE *f = std::tmpfile();
    std::string text;
    if (f && fdiff::write_html(f, c)) {
        std::rewind(f);
        char buf[65536];
        for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, n);
    }
    if (f) std::fclose(f);
    return text;
}

void check_page(const std::string &name, const std::string &page, const std::vector<Check> &checks) {
    const fs::path dir = FUNSIZE_PAGE_OUT;
    fs::create_directories(dir);
    write_file(dir / (name + ".html"), page);
    const fs::path shot = dir / (name + ".png");
    EXPECT_EQ(chromium(name, "--virtual-time-budget=3000 --screenshot=" + quoted(shot.string()), dir / (name + ".html"),
                       dir / (name + ".shot.log")),
              0);
    EXPECT_TRUE(fs::exists(shot));

    // Errors of the page's own script are caught from the first moment on.
    std::string html = page, steps;
    const size_t head = html.find("<head>");
    if (head != std::string::npos)
        html.insert(head + 6, "<script>window.pageErrors=[];addEventListener('error',function(e){pageErrors.push(e.message)});</script>");
    for (size_t i = 0; i < checks.size(); ++i) steps.append("report(" + std::to_string(i) + ", await (" + checks[i].expr + "));\n");
    const size_t end = html.rfind("</body>");
    html.insert(end == std::string::npos ? html.size() : end,
                "<script>" + read_file(FUNSIZE_PAGE_DRIVER) + "\nasync function steps() {\n" + steps + "}\n</script>\n");
    write_file(dir / (name + ".driven.html"), html);

    const fs::path dump = dir / (name + ".dom");
    EXPECT_EQ(chromium(name, "--virtual-time-budget=10000 --dump-dom", dir / (name + ".driven.html"), dump), 0);
    const std::string dom = read_file(dump);
    const size_t from = dom.rfind("<pre id=\"test-results\">");
    ASSERT_NE(from, std::string::npos) << "the driver wrote no results; see " << dump;
    std::map<std::string, std::string> seen;
    std::istringstream lines(dom.substr(from + 23, dom.find("</pre>", from) - from - 23));
    for (std::string line; std::getline(lines, line);) {
        const size_t eq = line.find('=');
        if (eq != std::string::npos) seen[line.substr(0, eq)] = uri_decoded(line.substr(eq + 1));
    }
    EXPECT_EQ(seen["state"], "ready");
    for (size_t i = 0; i < checks.size(); ++i) {
        const auto it = seen.find(std::to_string(i));
        EXPECT_EQ(it == seen.end() ? "(not reported)" : it->second, checks[i].want) << name << ": " << checks[i].expr;
    }
}

void PageTest::SetUp() {
    if (std::string(FUNSIZE_CHROMIUM).empty()) GTEST_SKIP() << "no chromium to open the pages with";
}

}  // namespace pagetest
