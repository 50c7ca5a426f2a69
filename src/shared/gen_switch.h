// Runtime switches of the host support library: named booleans with a
// compiled-in default that the user can change without rebuilding, through
// the environment ("LKS_GSW_" + name set to "0" or "1"), through a switch
// file beside the executable (its path with the extension ".gsw", lines of
// "name value") or through "-LKSX"/"-LKSZ" + name arguments.
//
// A module defines a switch with GEN_SWITCH_DEFINE, usually in a header:
// every translation unit then carries its own definition record, and all
// records of one name share one live value (the first one registered holds
// it). Definitions of one name at different places are a fatal error.
// Names compare without regard to ASCII letter case. Single-threaded.
#pragma once

#include <cstdint>

// Where a switch's live value came from.
enum : uint32_t {
    GEN_SWITCH_COMPILED_IN = 0,
    GEN_SWITCH_ENVIRONMENT = 1,
    GEN_SWITCH_GSW_FILE = 2,
    GEN_SWITCH_COMMAND_LINE = 3,
    GEN_SWITCH_COMMAND_LINE_ARG = 4,
    GEN_SWITCH_RUNTIME = 5,
};

// One definition record.
struct gen_switch_def {
    const char *name;
    uint8_t value;  // the default; in the canonical record the live value
    gen_switch_def *canonical;
    uint8_t used;
    uint8_t registered;
    uint8_t read_before_init;
    uint32_t source;
    const char *file;
    uint32_t line;
    uint8_t dflt;              // the compiled-in default, kept for gen_switch_reset
    gen_switch_def *next_def;  // the table of all records, in build order
};

// Appends a record to the table of all records (at static initialisation).
struct gen_switch_registrar {
    explicit gen_switch_registrar(gen_switch_def *def);
};

// Defines the record GSwitch_<name> with a default of 0 or 1.
#define GEN_SWITCH_DEFINE(name, dflt)                                                                                 \
    static gen_switch_def GSwitch_##name = {#name, (dflt), nullptr, 0, 0, 0, 0, __FILE__, __LINE__, (dflt), nullptr}; \
    static const gen_switch_registrar GSwitch_registrar_##name(&GSwitch_##name)

// Registers every record, reads the switch file, reports names in it that
// no record defines, takes "-LKSX", "-LKSZ", "-LKSArgX" and "-LKSArgZ" +
// name arguments out of argv (up to "--") and completes initialisation.
void gen_switch_init(int *argc, char **argv);
// The same for an argument list that is not changed.
void gen_switch_init(int argc, const char **argv);

bool gen_switch_get(gen_switch_def *def);
void gen_switch_set(gen_switch_def *def, bool value);
// True when the name was taken.
bool gen_switch_set_by_name(const char *name, bool value, bool quiet);
// The canonical record of a name, or NULL.
gen_switch_def *gen_switch_find(const char *name);
// The text of a source code ("Compiled In", "Environment Variable", ...).
const char *gen_switch_source_name(uint32_t source);

// The arguments that pass the switches set on the command line or by name
// on to a child process ("-LKSArgX" or "-LKSArgZ" + name); NULL-terminated.
const char *const *gen_switch_child_args(int *count);
// A new argument vector: argv[0], the child arguments, then argv[1] onward,
// NULL-terminated; argc is updated, the old vector freed with free_old.
void gen_switch_add_child_args(int *argc, char ***argv, bool free_old);

// Hands the child arguments to a loaded shared library that exports
// "GSwitch_SORegistrationCallback" (a function of argc and argv; argv[0] is
// this module's file name).
using GSwitch_SORegistrationCallback_t = void (*)(int argc, const char **argv);
void GSwitch_RegisterSharedLibrary(void *module);

// The switch file used instead of the one beside the running module (NULL:
// beside the module again). Takes effect at the next registration.
void gen_switch_use_file(const char *path);
// Forgets all registrations, values, pending switch-file entries and child
// arguments, so that the next use registers everything afresh.
void gen_switch_reset();
// Registers one record now (normally done for all records at first use).
void gen_switch_register(gen_switch_def *def);
