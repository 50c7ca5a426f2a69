// View paths: a list of directory trees that stand for one tree. With no
// view-path variables in the environment the mode stays inactive.
#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "genout.h"
#include "indgen.h"
#include "indgeninit.h"
#include "platform.h"

namespace {

struct ViewPath {
    bool active = false;
    bool debug = false;
    int mode = 0;
    long tuning = 0;
    std::vector<std::string> nodes;
    std::string start_directory;
};
ViewPath vp;

bool is_drive_start(const std::string &s, size_t i) {
    return i + 2 < s.size() && ((s[i] >= 'A' && s[i] <= 'Z') || (s[i] >= 'a' && s[i] <= 'z')) && s[i + 1] == ':' &&
           (s[i + 2] == '/' || s[i + 2] == '\\');
}

std::vector<std::string> split_nodes(const std::string &list) {
    std::vector<std::string> nodes;
    size_t i = 0;
    while (i < list.size() && nodes.size() < 128) {
        size_t begin = i;
        if (is_drive_start(list, i)) i += 2;
        while (i < list.size() && list[i] != ':' && list[i] != ';') ++i;
        if (i > begin) nodes.push_back(list.substr(begin, i - begin));
        ++i;
    }
    return nodes;
}

}  // namespace

bool gen_viewpath_active() { return vp.active; }

void gen_viewpathing(int mode) {
    int saved_errno = errno;
    if (const char *xsw = gen_getenv("LKS_VP_XSW", nullptr)) vp.tuning = std::strtol(xsw, nullptr, 10);
    if (gen_getenv("LKS_VP_DEBUG", nullptr)) vp.debug = true;
    if (mode != 0 && gen_getenv("LKS_VP_OFF", nullptr)) {
        mode = 0;
        if (vp.debug) gen_info("Disabling viewpathing mode \n\tbecause environment variable (%s) is set.", "LKS_VP_OFF");
    }
    if (mode == 2 && gen_getenv("LKS_VP_SLOW", nullptr)) {
        mode = 1;
        if (vp.debug) gen_info("Disabling FAST viewpathing mode \n\tbecause environment variable (%s) is set.", "LKS_VP_SLOW");
    }
    if (mode == 1 || mode == 2) {
        vp.mode = mode;
        if (vp.debug) gen_info(mode == 1 ? "Viewpathing support is ON (SLOW)." : "Viewpathing support is ON (FAST).");
        if (!vp.active) {
            const char *list = gen_getenv("NVPATH", nullptr);
            if (!list) list = gen_getenv("NVSRPATH", nullptr);
            if (list) vp.nodes = split_nodes(list);
            if (!vp.nodes.empty()) {
                vp.start_directory = plat::current_directory();
                vp.active = true;
            }
        }
    } else {
        if (mode != 0) gen_error("Illegal viewpath option passed to gen_viewpathing");
        if (vp.debug) gen_info("Viewpathing support is OFF.");
        vp = ViewPath{false, vp.debug, 0, vp.tuning, {}, {}};
    }
    errno = saved_errno;
}
