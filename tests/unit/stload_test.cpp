// Loading and attaching: name files in symbol tables, debug objects out of a
// program's .dla (kept while their tables serve), objects met directly in an
// archive (with a name file of their own, also from the cache), reference
// counts.
#include <gtest/gtest.h>
#include <utime.h>

#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "dla_writer.h"
#include "run_program.h"
#include "st_load_internal.h"
#include "st_test_support.h"

namespace {

using namespace st_test;

// Objects a, b, c, ... with procedures a1, a2, b1, ...; b2 is named in the
// name file's strings.
dlaw::ProgramDesc program(int objects) {
    dlaw::ProgramDesc p;
    p.sections = {{".text", 0x1000, 0x9000}};
    for (int i = 0; i < objects; ++i) {
        const std::string n(1, char('a' + i));
        const uint64_t at = 0x1000 + 0x100 * uint64_t(i);
        p.objects.push_back({n + ".dbo", "magic " + n, {{n + "1", at, at + 0x10}, {n + "2", at + 0x10, at + 0x40, i == 1}}});
    }
    return p;
}

STDnm_DloFile *entries(STDnm *dnm) { return static_cast<STDnm_DloFile *>(STDnm_TableEntries(dnm, STDNM_DLO_FILES)); }

// Name files count as settled at once, so that the cache keeps what it reads.
class StLoad : public StTest {
  protected:
    void SetUp() override {
        StTest::SetUp();
        saved_settle_ = st::dnm_cache_set_settle(-1);
    }
    void TearDown() override {
        if (fp_) std::fclose(fp_);
        ST_DestroySymTab(symTab_);
        st::dnm_cache_clear();
        st::dnm_cache_set_settle(saved_settle_);
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
        StTest::TearDown();
    }
    // Writes the program as prog.dnm and prog.dla, and loads the name file
    // into a new table, symTab_ (throws when it cannot).
    STDnm *load(const dlaw::ProgramDesc &p) {
        prog_ = dlaw::write_program(p);
        dlaw::write_files(prog_, p, dir_, "prog");
        STDnm *dnm = ST_LoadDnmFile(symTab_ = ST_CreateSymTab(), dnm_.c_str(), nullptr, 0, 0);
        if (!dnm) throw std::runtime_error("the name file did not load");
        return dnm;
    }
    // Every procedure name of a walk that loads each object for the time
    // it serves.
    Lines walk() {
        Lines names;
        STProcIter it;
        ST_ProcIterInit(&it, symTab_, nullptr, 1, 1);
        while (const STDbg_Proc *p = ST_ProcIterNext(&it)) names.push_back(ST_ProcUseName(p));
        ST_ProcIterEnd(&it);
        return names;
    }
    // Loads member k at `offset` (its own by default) the way the archive
    // walk does; *dnm is the name file held so far (none at first).
    STDbg *member(size_t k, STDnm **dnm, uint64_t offset = UINT64_MAX) {
        if (!fp_) fp_ = std::fopen(dla_.c_str(), "rb");
        std::fseek(fp_, long(prog_.offsets[k]), SEEK_SET);
        const std::string name = std::string(1, char('a' + k)) + ".dbo";
        return ST_LoadDboFromDla(nullptr, dnm, fp_, name.c_str(), dla_.c_str(), offset == UINT64_MAX ? prog_.offsets[k] : offset, 0);
    }
    // Member k's name file, with the object dropped as the walk does.
    STDnm *name_file_of(size_t k) {
        STDnm *dnm = nullptr;
        ST_UnloadDboFromDla(member(k, &dnm), &dnm, 0);
        return dnm;
    }

    int saved_settle_ = 0;
    STSymTab *symTab_ = nullptr;
    FILE *fp_ = nullptr;
    const std::string dir_ = testing_support::make_temp_dir(), dnm_ = dir_ + "/prog.dnm", dla_ = dir_ + "/prog.dla";
    dlaw::Program prog_;
};

// An object loaded already serves a load whose tables it holds; any other
// load reads it again, with a warning unless it was loaded for browsing
// (when browse information is kept) or into slot 4.
TEST_F(StLoad, LoadedObjectServesWhatItsTablesCover) {
    STDnm *dnm = load(program(1));
    STDbg *four = ST_LoadDloFile(dnm, 0, 4, ST_LOADTYPE_PERMANENT);
    EXPECT_EQ((V{ST_LoadDloFile(dnm, 0, 3, ST_LOADTYPE_PERMANENT) == four, ST_LoadDloFile(dnm, 0, 4, 3) == four}), (V{1, 1}));
    EXPECT_TRUE(log.all().empty()) << log.joined();
    FlagScope browse(STFLAG_dontUnloadBrowseInfo, 1);
    V warned;
    for (int32_t config = 3; config < 20; ++config) {
        ST_LoadDloFile(dnm, 0, config, ST_LOADTYPE_PERMANENT);
        log.clear();
        ASSERT_NE(ST_LoadDloFile(dnm, 0, 0, ST_LOADTYPE_PERMANENT), nullptr);
        if (log.has(W + "[ST_LoadDloFileFromDloFileInfo]: attempting full load of a partially loaded dbo")) warned.push_back(config);
        ST_UnloadDloFile(&entries(dnm)[0]);
    }
    EXPECT_EQ(warned, (V{3, 4, 5, 6, 9, 10, 12, 15, 17, 18, 19}));
    log.clear();
    ST_LoadDloFile(dnm, 0, 3, 4);
    EXPECT_NE(ST_LoadDloFile(dnm, 0, 0, 4), nullptr);
    EXPECT_TRUE(log.all().empty()) << log.joined();
}

TEST_F(StLoad, FailedRefusedAndRebuiltArchives) {
    // An archive that cannot be opened: the entries fail and are not tried
    // again, even once the archive is there.
    STDnm *dnm = load(program(2));
    std::filesystem::remove(dla_);
    EXPECT_TRUE(walk().empty());
    EXPECT_TRUE(entries(dnm)[0].failed && entries(dnm)[1].failed);
    log.clear();
    testing_support::write_file(dla_, std::string(prog_.dla.begin(), prog_.dla.end()));
    EXPECT_TRUE(walk().empty());
    EXPECT_EQ(log.joined(), "");
    ST_DestroySymTab(symTab_);

    // A file that is not an archive fails each object without a reason.
    testing_support::write_file(dla_, "not an archive at all");
    ASSERT_NE(ST_LoadDnmFile(symTab_ = ST_CreateSymTab(), dnm_.c_str(), nullptr, 0, 0), nullptr);
    EXPECT_TRUE(walk().empty());
    EXPECT_EQ(log.all(), (Lines{E + ".dlo load failed, could not open \"" + dla_ + "(a.dbo)\" (errno 0)",
                                E + ".dlo load failed, could not open \"" + dla_ + "(b.dbo)\" (errno 0)"}));
    ST_DestroySymTab(symTab_);

    // An object whose magic string is not its entry's.
    dlaw::ProgramDesc p = program(2);
    p.tweak_entry = [](size_t k, STDnm_DloFile &e) { e.magic = k == 1 ? e.name : e.magic; };
    load(p);
    log.clear();
    EXPECT_EQ(walk(), (Lines{"a1", "a2"}));
    EXPECT_EQ(log.all(), (Lines{E + "magic from dbg (magic b) does not match magic from dlo (b.dbo): 3",
                                E + "Corruption in symbol file is detected:\n" + dla_, E + ".dlo load failed for \"" + dla_ + "(b.dbo)\""}));
    ST_DestroySymTab(symTab_);

    // An archive newer than its name file: four warnings per name file.
    dnm = load(program(6));
    utimbuf later{dnm->dlaMtime + 100, dnm->dlaMtime + 100};
    ASSERT_EQ(utime(dla_.c_str(), &later), 0);
    log.clear();
    EXPECT_EQ(walk().size(), 12u);
    const std::string rebuilt = W + "\"" + dla_ + "\" appears to have been rebuilt";
    EXPECT_EQ(log.all(), (Lines{rebuilt, rebuilt, rebuilt, rebuilt, W + "\"" + dla_ + "\" warnings will no longer be given"}));
}

TEST_F(StLoad, SameNameFileTwiceAndDetached) {
    STDnm *first = load(program(2));
    // The same file for the same program: nothing to do.
    STDnm *again = ST_LoadDnmFile(symTab_, dnm_.c_str(), nullptr, 0, 0);
    EXPECT_TRUE(again && again->slot == -1 && log.all().empty());
    // For another program it is refused, unless it replaces the first.
    testing_support::write_file(dir_ + "/other.exe", "x");
    STDnm *third = ST_LoadDnmFile(symTab_, (dir_ + "/other.exe").c_str(), dnm_.c_str(), 0, 0);
    ASSERT_NE(third, nullptr);
    EXPECT_EQ(log.all(), (Lines{W + "Attempted to attach already loaded .dnm \"" + dnm_ + "\""}));
    const int32_t slot = first->slot;
    EXPECT_EQ((V{ST_AttachDnm(symTab_, third, 0, 0), ST_AttachDnm(nullptr, third, 0, 0), ST_AttachDnm(symTab_, third, 1, 0)}),
              (V{7, 1, 0}));
    EXPECT_EQ((V{third->slot, first->slot}), (V{slot, -1}));

    // Detached, it keeps its slot; an object unloaded meanwhile is not
    // walked again.
    ASSERT_NE(ST_LoadDloFile(third, 0, 1, ST_LOADTYPE_PERMANENT), nullptr);
    ST_DetachDnm(symTab_, third, 0);
    ST_UnloadDloFile(&entries(third)[0]);
    EXPECT_TRUE(entries(third)[0].noLongerLoadable);
    EXPECT_EQ((V{ST_AttachDnm(symTab_, third, 0, 0), third->slot}), (V{0, slot}));
    EXPECT_EQ(walk(), (Lines{"b1", "b2"}));
}

TEST_F(StLoad, ReferenceCountsAndWcharAttributes) {
    load(program(1));
    STDnm *dnm = ST_LoadDnmFile(nullptr, dnm_.c_str(), nullptr, 0, 0);
    ASSERT_NE(dnm, nullptr);
    const int32_t before = dnm->refCount;
    STDnm_AttachTo(dnm), STDnm_AttachTo(dnm), STDnm_DetachFrom(dnm);
    EXPECT_EQ((V{before, dnm->refCount}), (V{0, 1}));
    STDbg *dbg = ST_LoadDloFile(dnm, 0, 1, ST_LOADTYPE_PERMANENT);
    ASSERT_NE(dbg, nullptr);
    STDbg_AttachTo(dbg);
    // The name file drops its reference; the object stays for the other.
    ST_UnloadDloFile(&entries(dnm)[0]);
    EXPECT_EQ(dbg->refCount, 1);
    dbg->refCount = 0;
    STDbg_DetachFrom(dbg);
    STDnm_DetachFrom(dnm);  // the last reference frees it

    for (const char *size : {"7", "65"}) EXPECT_EQ(ST_NoteWcharAttributes(symTab_, size, "0"), 1);
    EXPECT_EQ((V{ST_NoteWcharAttributes(symTab_, "16", "2"), ST_NoteWcharAttributes(symTab_, "16", nullptr),
                 ST_NoteWcharAttributes(symTab_, nullptr, nullptr), symTab_->wcharKnown}), (V{1, 1, 0, 0}));
    EXPECT_EQ((V{ST_NoteWcharAttributes(symTab_, "8", "1"), ST_NoteWcharAttributes(symTab_, "8", "1"),
                 ST_NoteWcharAttributes(symTab_, "64", "0"), symTab_->wcharSize}), (V{0, 0, 1, 8}));
    EXPECT_EQ(log.all(), (Lines{W + "[STDbg_DetachFrom]: refCount underflow",
                                W + "Invalid value for attribute \"scope.wchar_size\": 7",
                                W + "Invalid value for attribute \"scope.wchar_size\": 65",
                                W + "Invalid value for attribute \"scope.wchar_signed\": 2",
                                W + "Invalid value for attribute \"scope.wchar_signed\": (null)",
                                W + "Got inconsistent information for wchar_t: size 8 bits vs 64 bits, sign 1 vs 0"}));
}

TEST_F(StLoad, ObjectMetInTheArchiveFindsItsEntry) {
    // Entry c records the offset of a, entry d its magic string: an object
    // is given the first entry that fits.
    dlaw::ProgramDesc p = program(4);
    STDnm_DloFile a{};
    p.tweak_entry = [&](size_t k, STDnm_DloFile &e) { k == 0 ? void(a = e) : k == 2 ? void(e.offset = a.offset) : k == 3 ? void(e.magic = a.magic) : void(); };
    load(p);
    // b refers to its name file's strings: the name file comes along, read
    // without its sections; not the last entry, so it stays for the caller.
    STDnm *dnm = nullptr;
    STDbg *dbg = member(1, &dnm);
    ASSERT_TRUE(dbg && dnm);
    EXPECT_EQ((V{dbg->dnm == dnm, dbg->iDlo, STDnm_TableCount(dnm, STDNM_SECTIONS)}), (V{1, 1, 0}));
    ST_UnloadDboFromDla(dbg, &dnm, 0);
    ASSERT_NE(dnm, nullptr);
    STDnm_Free(dnm);

    // At an offset the name file does not record: found by its magic (the
    // warning is checked end to end); released on request.
    dnm = nullptr;
    dbg = member(0, &dnm, 12345);
    ASSERT_NE(dnm, nullptr);
    EXPECT_EQ((V{dbg->iDlo, int64_t(log.all().size())}), (V{0, 1}));
    ST_UnloadDboFromDla(dbg, &dnm, 1);
    EXPECT_EQ(dnm, nullptr);

    // A name file already held is used as it is, an object's entry looked up
    // by offset, else by magic string; unloading the object of its last
    // entry releases it.
    STDnm *held = nullptr;
    ST_UnloadDboFromDla(member(0, &held), &held, 0);
    ASSERT_NE(held, nullptr);
    STDnm *same = held;
    STDbg *a0 = member(0, &held), *a7 = member(0, &held, 7), *c = member(2, &held, 7);
    EXPECT_TRUE(a0 && a7 && c && held == same && a0->iDlo == 0 && a7->iDlo == 0 && c->iDlo == 2);
    for (STDbg *d : {a0, a7, c}) ST_UnloadDboFromDla(d, &held, 0);
    ASSERT_EQ(held, same);
    ST_UnloadDboFromDla(member(3, &held), &held, 0);
    EXPECT_EQ(held, nullptr);
    EXPECT_EQ(log.all().size(), 3u);
}

// ---- Name files of objects met directly in the archive, kept between loads

TEST_F(StLoad, NameFileChangedOrHeldIsReadAgain) {
    load(program(3));
    const int64_t hits = st::dnm_cache_hits();
    // Reads member k's name file and drops it; the cache hits so far.
    auto hits_after = [&](size_t k) { return STDnm_Free(name_file_of(k)), st::dnm_cache_hits() - hits; };
    EXPECT_EQ((V{hits_after(0), hits_after(0)}), (V{0, 1}));

    // Another size.
    ASSERT_TRUE(dbgw::rewrite_dnm(dnm_, [](STDnm *d) { STDnm_AddString(d, "one more string"); }));
    STDnm *dnm = name_file_of(0);
    EXPECT_STREQ(STDnm_String(dnm, uint32_t(STDnm_TableCount(dnm, STDNM_STRINGS) - 16)), "one more string");
    STDnm_Free(dnm);

    // Just written, the file may change again within the same second at
    // the same size: its bytes tell; unchanged, it is served.
    st::dnm_cache_clear();
    st::dnm_cache_set_settle(3);
    hits_after(0);
    ASSERT_TRUE(dbgw::rewrite_dnm(dnm_, [](STDnm *d) {
        char *s = static_cast<char *>(STDnm_TableEntries(d, STDNM_STRINGS));
        for (int32_t i = 0; i + 7 < STDnm_TableCount(d, STDNM_STRINGS); ++i)
            if (std::memcmp(s + i, "magic a", 8) == 0) s[i + 6] = 'z';
    }));
    dnm = name_file_of(1);
    EXPECT_STREQ(STDnm_String(dnm, entries(dnm)[0].magic), "magic z");
    STDnm_Free(dnm);
    EXPECT_EQ((V{st::dnm_cache_hits() - hits, hits_after(1)}), (V{1, 2}));
    st::dnm_cache_set_settle(-1);

    // Times set back: another state of the file.
    EXPECT_EQ(hits_after(0), 3);
    utimbuf earlier{1000000, 1000000};
    ASSERT_EQ(utime(dnm_.c_str(), &earlier), 0);
    EXPECT_EQ(hits_after(0), 3);

    // While one load holds it, the next one reads a copy of its own; a
    // holder that adds to the tables, or changes its name only, keeps its
    // own object.
    STDnm *held = name_file_of(0), *other = name_file_of(1);
    ASSERT_TRUE(held && other && held != other);
    EXPECT_EQ(st::dnm_cache_hits(), hits + 4);
    for (STDnm *d : {held, other})
        for (int32_t i = 0; i < 3; ++i) EXPECT_EQ(entries(d)[i].owner, d);
    const int32_t strings = STDnm_TableCount(held, STDNM_STRINGS);
    STDnm_AddString(held, "added");
    STDnm_Free(held), STDnm_Free(other);
    STDnm *fresh = name_file_of(0);
    EXPECT_EQ(STDnm_TableCount(fresh, STDNM_STRINGS), strings);
    gen_free_fn(fresh->name);
    fresh->name = gen_strdup("renamed");
    STDnm_Free(fresh);
    fresh = name_file_of(0);
    EXPECT_STRNE(fresh->name, "renamed");
    STDnm_Free(fresh);
    EXPECT_EQ(st::dnm_cache_hits(), hits + 5);
    EXPECT_EQ(log.joined(), "");

    // A path that leads to no regular file (nothing, a directory): the
    // object loads alone, as it always did, and the kept name file stays
    // to serve the file met there again.
    std::filesystem::rename(dnm_, dir_ + "/real.dnm");
    std::filesystem::create_symlink("real.dnm", dnm_);
    STDnm_Free(name_file_of(0));
    const int64_t kept = st::dnm_cache_hits();
    for (const std::string target : {"gone.dnm", ".", "real.dnm"}) {
        std::filesystem::remove(dnm_);
        std::filesystem::create_symlink(target, dnm_);
        STDnm *dnm = nullptr;
        STDbg *dbg = member(0, &dnm);
        EXPECT_TRUE(dbg && (dnm != nullptr) == (target == "real.dnm")) << target;
        ST_UnloadDboFromDla(dbg, &dnm, 1);
    }
    EXPECT_EQ(st::dnm_cache_hits(), kept + 1);
    EXPECT_EQ(log.all().front(), E + "failed while reading \"" + dnm_ + "\" (pos 1, errno 2)");
}

}  // namespace
