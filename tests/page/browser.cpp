#include "browser.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace pagetest {

namespace fs = std::filesystem;

namespace {

std::string read_file(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void write_file(const fs::path &path, const std::string &text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

// The text of an element as the DOM dump writes it.
std::string unescape(const std::string &s) {
    static const std::pair<const char *, const char *> entities[] = {
        {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&#39;", "'"}, {"&nbsp;", "\xc2\xa0"}, {"&amp;", "&"}};
    std::string out;
    for (size_t i = 0; i < s.size();) {
        bool replaced = false;
        if (s[i] == '&') {
            for (const auto &[from, to] : entities) {
                if (s.compare(i, std::strlen(from), from) == 0) {
                    out.append(to);
                    i += std::strlen(from);
                    replaced = true;
                    break;
                }
            }
        }
        if (!replaced) out.push_back(s[i++]);
    }
    return out;
}

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

}  // namespace

std::string page_of(const fdiff::Comparison &c) {
    FILE *f = std::tmpfile();
    if (!f) return "";
    const bool ok = fdiff::write_html(f, c);
    std::string text;
    if (ok) {
        std::rewind(f);
        char buf[65536];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    }
    std::fclose(f);
    return text;
}

std::string Seen::at(const std::string &key) const {
    const auto it = values.find(key);
    return it == values.end() ? "(not reported)" : it->second;
}

// Opens the page with the driver and `steps` (the body of an async function)
// and returns what the driver reported; also writes NAME.html and NAME.png.
Seen open_page(const std::string &name, const std::string &page, const std::string &steps) {
    const fs::path dir = FUNSIZE_PAGE_OUT;
    fs::create_directories(dir);
    const fs::path plain = dir / (name + ".html"), driven = dir / (name + ".driven.html");
    write_file(plain, page);
    EXPECT_EQ(chromium(name, "--virtual-time-budget=3000 --screenshot=" + quoted((dir / (name + ".png")).string()), plain,
                       dir / (name + ".shot.log")),
              0);
    EXPECT_TRUE(fs::exists(dir / (name + ".png")));

    // Errors of the page's own script are caught from the first moment on.
    std::string html = page;
    const size_t head = html.find("<head>");
    if (head != std::string::npos)
        html.insert(head + 6, "<script>window.pageErrors=[];addEventListener('error',function(e){pageErrors.push(e.message)});</script>");
    std::string driver = "<script>";
    driver.append(read_file(FUNSIZE_PAGE_DRIVER)).append("\nasync function steps() {\n").append(steps).append("\n}\n</script>\n");
    const size_t end = html.rfind("</body>");
    html.insert(end == std::string::npos ? html.size() : end, driver);
    write_file(driven, html);

    const fs::path dump = dir / (name + ".dom");
    EXPECT_EQ(chromium(name, "--virtual-time-budget=10000 --dump-dom", driven, dump), 0);
    const std::string dom = read_file(dump);
    Seen seen;
    const std::string open = "<pre id=\"test-results\">";
    const size_t from = dom.rfind(open);
    if (from == std::string::npos) {
        ADD_FAILURE() << "the driver wrote no results; see " << dump;
        return seen;
    }
    const size_t to = dom.find("</pre>", from);
    std::istringstream lines(unescape(dom.substr(from + open.size(), to - from - open.size())));
    std::string line;
    while (std::getline(lines, line)) {
        const size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        // The driver writes a line break in a value as "\\n".
        std::string value = line.substr(eq + 1);
        for (size_t at = 0; (at = value.find("\\n", at)) != std::string::npos; ++at) value.replace(at, 2, "\n");
        seen.values[line.substr(0, eq)] = value;
    }
    EXPECT_EQ(seen.at("ready"), "1");
    EXPECT_EQ(seen.at("errors"), "");
    EXPECT_EQ(seen.at("driver-error"), "(not reported)");
    return seen;
}

void PageTest::SetUp() {
    if (std::string(FUNSIZE_CHROMIUM).empty()) GTEST_SKIP() << "no chromium to open the pages with";
}

}  // namespace pagetest

