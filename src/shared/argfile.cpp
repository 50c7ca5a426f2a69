// "@file" operands: each is replaced by the arguments written in the file.
//
// Two syntaxes: one argument per line (the default), or words separated by
// blanks with '#' comments and '"' quoted lines ("-freeform_atfile").
#include <cstring>

#include "genout.h"
#include "indgen.h"

namespace {

struct AtfileSyntax {
    int blanks_separate = 0;
    int comment_char = 0;
    int quote_char = 0;
    int trim_blanks = 0;
};
AtfileSyntax syntax;

bool is_line_end(char c) { return c == '\n' || c == '\r' || c == '\x1a'; }
bool is_blank(char c) { return c == ' ' || c == '\t'; }
bool separates(char c) { return is_line_end(c) || (syntax.blanks_separate && is_blank(c)); }

// Position of the next line end at or after p (or the terminating NUL).
char *line_end(char *p, char *end) {
    while (p < end && !is_line_end(*p)) ++p;
    return p;
}

// Skips leading blanks, comments and line ends until a pass skips nothing.
char *skip_leading(char *p, char *end) {
    for (;;) {
        char *start = p;
        if (syntax.trim_blanks)
            while (p < end && is_blank(*p)) ++p;
        if (syntax.comment_char && p < end && *p == syntax.comment_char) p = line_end(p, end);
        while (p < end && is_line_end(*p)) ++p;
        if (p == start) return p;
    }
}

int64_t count_words(const char *p, const char *end) {
    int64_t words = 0;
    bool in_word = false;
    for (; p < end; ++p) {
        bool sep = separates(*p);
        if (!sep && !in_word) ++words;
        in_word = !sep;
    }
    return words;
}

class Vector {
  public:
    Vector(char *argv0, int64_t argc) : total_(argc), cap_(argc + 1) {
        slots_ = static_cast<char **>(gen_calloc_fn(size_t(argc + 1), sizeof(char *)));
        slots_[used_++] = argv0;
    }
    void drop() { --total_; }
    void grow_by(int64_t n) {
        total_ += n;
        if (total_ + 1 > cap_) {
            cap_ = total_ + 1;
            slots_ = static_cast<char **>(gen_realloc_fn(slots_, cap_ * int64_t(sizeof(char *))));
        }
    }
    void push(char *arg) { slots_[used_++] = arg; }
    char **finish(int *argc) {
        slots_[used_] = nullptr;
        *argc = int(used_);
        return slots_;
    }

  private:
    char **slots_;
    int64_t used_ = 0;
    int64_t total_;
    int64_t cap_;
};

// Ends an argument that runs from `start` up to (not including) `stop`.
void end_argument(Vector &vec, char *start, char *stop) {
    if (syntax.trim_blanks)
        while (stop > start && is_blank(stop[-1])) --stop;
    *stop = '\0';
    vec.push(start);
}

void expand_file(Vector &vec, const char *name) {
    int64_t size = gen_file_size(name);
    FILE *fp = size >= 0 && size <= 0x7FFFFFFF ? gen_fopen(name, "rb") : nullptr;
    if (!fp) gen_fatal(1, "Cannot open file '%s'\n", name);
    char *text = static_cast<char *>(gen_calloc_fn(size_t(size) + 3, 1));
    size_t got = size > 0 ? std::fread(text, 1, size_t(size), fp) : 0;
    bool failed = std::ferror(fp) != 0;
    std::fclose(fp);
    if (failed) gen_fatal(1, "Cannot open file '%s'\n", name);
    text[got] = '\0';
    char *end = text + got;

    char *p = skip_leading(text, end);
    int64_t words = count_words(p, end);
    if (words == 0) {
        gen_free_fn(text);
        return;
    }
    vec.grow_by(words);

    char *arg = nullptr;
    while (p < end) {
        char c = *p;
        if (separates(c)) {
            if (arg) end_argument(vec, arg, p);
            arg = nullptr;
            ++p;
            continue;
        }
        if (arg) {
            ++p;
            continue;
        }
        if (syntax.quote_char && c == syntax.quote_char) {
            char *eol = line_end(p, end);
            char *last = eol - 1;
            if (last > p && *last == syntax.quote_char) {
                *last = '\0';
                vec.push(p + 1);
                p = last + 1;
                continue;
            }
            if (last == p) {
                // A line of one quote character: the quotes enclose nothing.
                *p = '\0';
                vec.push(p);
                ++p;
                continue;
            }
        }
        if (syntax.trim_blanks && is_blank(c)) {
            ++p;
            continue;
        }
        if (syntax.comment_char && c == syntax.comment_char) {
            p = line_end(p, end);
            continue;
        }
        arg = p++;
    }
    if (arg) end_argument(vec, arg, end);
}

}  // namespace

void gen_set_atfile_syntax(int blanks_separate, int comment_char, int quote_char, int trim_blanks) {
    if (blanks_separate != -1) syntax.blanks_separate = blanks_separate;
    if (comment_char != -1) syntax.comment_char = comment_char;
    if (quote_char != -1) syntax.quote_char = quote_char;
    if (trim_blanks != -1) syntax.trim_blanks = trim_blanks;
}

char **gen_expand_argfiles(int *argc, char **argv) {
    Vector vec(*argc > 0 ? argv[0] : nullptr, *argc > 0 ? *argc : 1);
    for (int i = 1; i < *argc; ++i) {
        char *arg = argv[i];
        if (std::strcmp(arg, "-freeform_atfile") == 0) {
            gen_set_atfile_syntax(1, '#', '"', 1);
            vec.drop();
        } else if (std::strcmp(arg, "-no_freeform_atfile") == 0) {
            gen_set_atfile_syntax(0, 0, 0, 0);
            vec.drop();
        } else if (arg[0] != '@') {
            vec.push(arg);
        } else {
            vec.drop();
            expand_file(vec, arg + 1);
        }
    }
    // The expanded arguments live until the program ends, whether its main
    // function returns or it exits.
    static char **expanded;
    return expanded = vec.finish(argc);
}
