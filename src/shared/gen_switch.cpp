// Runtime switches: the table of definition records, the name table that
// gives every name one live value, the environment, the switch file and
// the command-line arguments.
#include "gen_switch.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "genout.h"
#include "indgen.h"
#include "platform.h"

// A switch that does nothing: it shows how a module defines one.
GEN_SWITCH_DEFINE(SampleGSwitch, 0);

namespace {

constexpr uint64_t NAME_BUCKETS = 8419;
constexpr const char *ENV_PREFIX = "LKS_GSW_";
constexpr const char *NO_MODULE_NAME = "UNABLE_TO_LOAD_MODULE_FILENAME";

// The table of all records, filled at static initialisation. Plain
// pointers, so that they are zero before any registrar runs.
gen_switch_def *table_head;
gen_switch_def *table_tail;

struct Entry {
    uint64_t hash;
    gen_switch_def *def;
};

struct Pending {
    std::string name;
    int value;
};

struct State {
    std::vector<std::vector<Entry>> buckets;
    std::vector<Pending> pending;
    std::vector<std::string> child_args;
    std::vector<const char *> child_argv;
    bool all_registered = false;
    bool file_read = false;
    bool init_complete = false;
    bool file_override = false;
    std::string file_path;
};

State &state() {
    static State s;
    return s;
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

uint64_t name_hash(const char *name) {
    uint64_t h = 0;
    for (const char *p = name; *p; ++p) h = h * 37 + uint64_t(uint8_t(lower(*p)));
    return h;
}

// File names of two definitions: letter case and the kind of slash do not
// matter.
bool same_file_name(const char *a, const char *b) {
    for (;; ++a, ++b) {
        char ca = *a == '\\' ? '/' : lower(*a), cb = *b == '\\' ? '/' : lower(*b);
        if (ca != cb) return false;
        if (!ca) return true;
    }
}

gen_switch_def *lookup(const char *name) {
    State &s = state();
    if (s.buckets.empty()) return nullptr;
    uint64_t h = name_hash(name);
    for (const Entry &e : s.buckets[h % NAME_BUCKETS])
        if (e.hash == h && gen_strequal_nocase(e.def->name, name)) return e.def;
    return nullptr;
}

void set_value(gen_switch_def *canon, bool value, uint32_t source) {
    if (canon->value == uint8_t(value)) return;
    canon->value = uint8_t(value);
    canon->source = source;
    std::string line = std::string(canon->name) + (value ? " on: " : " off: ") + gen_switch_source_name(source);
    gen_eventlog_note("GSWITCH", line.c_str());
}

// The switch file: the running module's path with the extension ".gsw".
std::string switch_file_path() {
    State &s = state();
    if (s.file_override) return s.file_path;
    std::string module;
    switch (plat::module_file_name(reinterpret_cast<const void *>(&switch_file_path), module)) {
        case plat::MODULE_NAME_OK:
            break;
        case plat::MODULE_NAME_NO_LIST:
            gen_error("Unable to enumerate modules.\n");
            module = NO_MODULE_NAME;
            break;
        case plat::MODULE_NAME_TOO_MANY:
            gen_error("Number of modules larger than expected.\n");
            module = NO_MODULE_NAME;
            break;
        default:
            gen_error("Unable to determine module filename.\n");
            module = NO_MODULE_NAME;
            break;
    }
    const char *base = gen_basename(module.c_str());
    const char *dot = std::strrchr(base, '.');
    size_t keep = dot ? size_t(dot - module.c_str()) : module.size();
    return module.substr(0, keep) + ".gsw";
}

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }
bool is_name_char(char c) { return c > ' ' && c < 0x7F; }

// One line of the switch file; a good line adds a pending entry.
void parse_line(const std::string &line, int number) {
    const char *p = line.c_str();
    while (is_space(*p)) ++p;
    if (!*p || *p == '#') return;
    const char *name_start = p;
    while (is_name_char(*p)) ++p;
    if (p == name_start || !is_space(*p)) {
        gen_warning("Invalid switch format on line %d: %s\n", number, line.c_str());
        return;
    }
    std::string name(name_start, size_t(p - name_start));
    while (is_space(*p)) ++p;
    const char *digits = p;
    if (*digits == '+' || *digits == '-') ++digits;
    if (*digits < '0' || *digits > '9') {
        gen_warning("Invalid switch value format on line %d for switch %s\n", number, name.c_str());
        return;
    }
    char *end = nullptr;
    long long v = std::strtoll(p, &end, 10);
    int value = v > 0x7FFFFFFF ? 0x7FFFFFFF : v < -0x7FFFFFFF ? -0x7FFFFFFF : int(v);
    if (value != 0 && value != 1) {
        gen_warning("Invalid switch value %d on line %d for switch %s\n", value, number, name.c_str());
        return;
    }
    p = end;
    while (is_space(*p)) ++p;
    if (*p) {
        gen_warning("Trailing garbage after switch on line %d for switch %s\n", number, name.c_str());
        return;
    }
    state().pending.push_back({name, value});
}

void read_switch_file() {
    State &s = state();
    if (s.file_read) return;
    s.file_read = true;
    std::string path = switch_file_path();
    FILE *fp = gen_fopen(path.c_str(), "rt");
    if (!fp) return;
    std::string text;
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, fp)) > 0;) text.append(buf, n);
    std::fclose(fp);
    int number = 0;
    for (size_t i = 0; i < text.size();) {
        size_t e = i;
        while (e < text.size() && text[e] != '\n' && text[e] != '\r') ++e;
        parse_line(text.substr(i, e - i), ++number);
        if (e < text.size() && text[e] == '\r' && e + 1 < text.size() && text[e + 1] == '\n') ++e;
        i = e + 1;
    }
}

void register_all() {
    State &s = state();
    if (s.all_registered) return;
    s.all_registered = true;
    for (gen_switch_def *d = table_head; d; d = d->next_def) gen_switch_register(d);
}

void add_child_arg(const char *name, bool value) {
    State &s = state();
    s.child_args.push_back(std::string("-LKSArg") + (value ? "X" : "Z") + name);
    std::string var = std::string(ENV_PREFIX) + name;
    plat::set_environment(var.c_str(), value ? "1" : "0");
}

void warn_if_used(const gen_switch_def *canon) {
    if (canon->read_before_init)
        gen_warning("Attempting to modify switch %s that was used before being initialized.", canon->name);
    else if (canon->used)
        gen_warning("Changing switch %s which has been used in the past.\n", canon->name);
}

}  // namespace

gen_switch_registrar::gen_switch_registrar(gen_switch_def *def) {
    def->next_def = nullptr;
    if (table_tail)
        table_tail->next_def = def;
    else
        table_head = def;
    table_tail = def;
}

const char *gen_switch_source_name(uint32_t source) {
    static constexpr const char *names[] = {"Compiled In",  "Environment Variable", "GSW File",
                                            "Command Line", "Command Line Arg",     "Runtime"};
    return source < std::size(names) ? names[source] : "Unknown";
}

void gen_switch_register(gen_switch_def *def) {
    if (def->registered) return;
    State &s = state();
    if (s.init_complete) gen_fatal(1, "Switch %s being registered after initialization is complete.\n", def->name);
    def->registered = 1;
    if (s.buckets.empty()) s.buckets.resize(NAME_BUCKETS);
    if (gen_switch_def *other = lookup(def->name)) {
        if (same_file_name(def->file, other->file)) {
            if (def->line != other->line)
                gen_fatal(1, "Error: GSwitch %s is defined on multiple lines of the same file: %s#(%d,%d)\n", def->name,
                          def->file, int(def->line), int(other->line));
        } else {
            gen_fatal(1, "Error: GSwitch %s is defined in multiple files (%s, %s)\n", def->name, def->file,
                      other->file);
        }
        def->canonical = other;
        return;
    }
    const uint64_t h = name_hash(def->name);
    std::vector<Entry> &bucket = s.buckets[h % NAME_BUCKETS];
    for (const Entry &e : bucket) {
        bool distinct = h != e.hash && !gen_strequal_nocase(def->name, e.def->name);
        gen_assert(distinct, "hash_val != entry->key && !gen_strequal(gsw->name, entry->gsw->name)", __FILE__, __LINE__,
                   0);
    }
    bucket.push_back({h, def});
    def->canonical = def;
    if (def->source != GEN_SWITCH_COMPILED_IN)
        gen_fatal(1, "Error: GSwitch %s is not defined with the correct source.\n", def->name);
    def->value = def->dflt ? 1 : 0;
    def->source = GEN_SWITCH_COMPILED_IN;

    std::string var = std::string(ENV_PREFIX) + def->name;
    if (const char *env = gen_getenv(var.c_str(), nullptr); env && (gen_strequal(env, "0") || gen_strequal(env, "1")))
        set_value(def, env[0] == '1', GEN_SWITCH_ENVIRONMENT);

    read_switch_file();
    for (size_t i = 0; i < s.pending.size();) {
        if (gen_strequal_nocase(s.pending[i].name.c_str(), def->name)) {
            set_value(def, s.pending[i].value != 0, GEN_SWITCH_GSW_FILE);
            s.pending.erase(s.pending.begin() + std::ptrdiff_t(i));
        } else {
            ++i;
        }
    }
}

void gen_switch_init(int *argc, char **argv) {
    State &s = state();
    register_all();
    read_switch_file();
    for (const Pending &p : s.pending) gen_warning("Unknown switch specified in .gsw file: %s\n", p.name.c_str());
    s.pending.clear();

    int out = argc && argv && *argc > 0 ? 1 : 0;
    int i = out;
    for (; argc && argv && i < *argc; ++i) {
        char *arg = argv[i];
        if (gen_strequal(arg, "--")) break;
        static constexpr struct {
            const char *prefix;
            bool value;
            uint32_t source;
        } forms[] = {{"-LKSArgX", true, GEN_SWITCH_COMMAND_LINE_ARG},
                     {"-LKSArgZ", false, GEN_SWITCH_COMMAND_LINE_ARG},
                     {"-LKSX", true, GEN_SWITCH_COMMAND_LINE},
                     {"-LKSZ", false, GEN_SWITCH_COMMAND_LINE}};
        const auto *form = std::find_if(std::begin(forms), std::end(forms),
                                        [&](const auto &f) { return gen_strprefix(arg, f.prefix); });
        if (form == std::end(forms)) {
            argv[out++] = arg;
            continue;
        }
        const char *name = arg + std::strlen(form->prefix);
        if (!*name) {
            gen_warning("No LKS XSwitch name specified, ignoring argument.\n");
        } else if (gen_switch_def *canon = lookup(name)) {
            set_value(canon, form->value, form->source);
            add_child_arg(canon->name, form->value);
        } else if (form->source == GEN_SWITCH_COMMAND_LINE) {
            gen_warning("No LKS switch found for %s, ignoring\n", name);
        }
    }
    if (argc && argv) {
        for (; i < *argc; ++i) argv[out++] = argv[i];
        if (out < *argc) argv[out] = nullptr;
        *argc = out;
    }
    s.init_complete = true;
}

void gen_switch_init(int argc, const char **argv) {
    std::vector<char *> copy;
    for (int i = 0; i < argc; ++i) copy.push_back(const_cast<char *>(argv[i]));
    copy.push_back(nullptr);
    int n = argc;
    gen_switch_init(&n, copy.data());
}

bool gen_switch_get(gen_switch_def *def) {
    State &s = state();
    register_all();
    if (!s.init_complete) {
        gen_switch_register(def);
        def->canonical->read_before_init = 1;
    } else if (!def->registered) {
        gen_error("Unregistered switch %s is being used after switch initialization is complete.\n", def->name);
        return true;
    }
    def->canonical->used = 1;
    return def->canonical->value != 0;
}

void gen_switch_set(gen_switch_def *def, bool value) {
    State &s = state();
    register_all();
    if (!s.init_complete) {
        gen_switch_register(def);
    } else if (!def->registered) {
        gen_error("Unregistered switch %s is being modified after switch initialization is complete.\n", def->name);
        return;
    }
    warn_if_used(def->canonical);
    set_value(def->canonical, value, GEN_SWITCH_RUNTIME);
}

bool gen_switch_set_by_name(const char *name, bool value, bool quiet) {
    State &s = state();
    if (!s.init_complete) {
        gen_error("Attempted to modify switch by name before initialization is done.\n");
        return false;
    }
    if (!name || !*name) return false;
    if (gen_switch_def *canon = lookup(name)) {
        if (canon->value != uint8_t(value)) {
            if (canon->used) gen_warning("Changing switch %s which has been used in the past.\n", canon->name);
            set_value(canon, value, GEN_SWITCH_RUNTIME);
        }
        add_child_arg(canon->name, value);
        return true;
    }
    if (!quiet) {
        gen_warning("Unknown switch name %s, ignoring.\n", name);
        return false;
    }
    add_child_arg(name, value);
    return true;
}

gen_switch_def *gen_switch_find(const char *name) {
    if (!name) return nullptr;
    register_all();
    return lookup(name);
}

const char *const *gen_switch_child_args(int *count) {
    State &s = state();
    s.child_argv.clear();
    for (const std::string &a : s.child_args) s.child_argv.push_back(a.c_str());
    s.child_argv.push_back(nullptr);
    if (count) *count = int(s.child_args.size());
    return s.child_argv.data();
}

void gen_switch_add_child_args(int *argc, char ***argv, bool free_old) {
    State &s = state();
    const int old_count = *argc;
    const int n = old_count + int(s.child_args.size());
    char **fresh = static_cast<char **>(gen_calloc_fn(size_t(n) + 1, sizeof(char *)));
    int k = 0;
    if (old_count > 0) fresh[k++] = (*argv)[0];
    for (const std::string &a : s.child_args) fresh[k++] = gen_strdup(a.c_str());
    for (int i = 1; i < old_count; ++i) fresh[k++] = (*argv)[i];
    fresh[k] = nullptr;
    if (free_old) gen_free_fn(*argv);
    *argv = fresh;
    *argc = k;
}

void GSwitch_RegisterSharedLibrary(void *module) {
    if (!module) {
        gen_error("GSwitch_RegisterSharedLibrary:No shared object handle passed in.\n");
        return;
    }
    auto callback = reinterpret_cast<GSwitch_SORegistrationCallback_t>(
        plat::module_symbol(module, "GSwitch_SORegistrationCallback"));
    if (!callback) return;
    std::string self;
    if (plat::module_file_name(reinterpret_cast<const void *>(&GSwitch_RegisterSharedLibrary), self) !=
        plat::MODULE_NAME_OK)
        self = NO_MODULE_NAME;
    std::vector<const char *> args{self.c_str()};
    int count = 0;
    const char *const *child = gen_switch_child_args(&count);
    for (int i = 0; i < count; ++i) args.push_back(child[i]);
    args.push_back(nullptr);
    callback(int(args.size()) - 1, args.data());
}

void gen_switch_use_file(const char *path) {
    State &s = state();
    s.file_override = path != nullptr;
    s.file_path = path ? path : "";
}

void gen_switch_reset() {
    State &s = state();
    bool keep_override = s.file_override;
    std::string keep_path = s.file_path;
    s = State{};
    s.file_override = keep_override;
    s.file_path = keep_path;
    for (gen_switch_def *d = table_head; d; d = d->next_def) {
        d->registered = 0;
        d->used = 0;
        d->read_before_init = 0;
        d->canonical = nullptr;
        d->value = d->dflt;
        d->source = GEN_SWITCH_COMPILED_IN;
    }
}
