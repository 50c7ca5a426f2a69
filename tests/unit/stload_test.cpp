// Loading and attaching: symbol tables with their name files, debug objects
// out of a program's .dla (the walk, temporary slots, the cached archive,
// failures that are not tried again), objects met directly in an archive
// (each with a name file of its own, also when the cache serves it), and
// reference counts. The messages of a missing archive and of a member at the
// wrong offset are checked end to end in debug_e2e_test.
#include <gtest/gtest.h>
#include <utime.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "dla_writer.h"
#include "gen_switch.h"
#include "run_program.h"
#include "st_api.h"
#include "st_load_internal.h"

namespace {

using dbgw::FlagScope;
using dbgw::MessageLog;

const std::string E = "3|<libst>: ";
const std::string W = "4|<libst>: ";
const std::string I = "5|<libst>: ";

// Objects a, b, c, ... with procedures a1, a2, b1, ...; b2 is named in the
// name file's strings.
dlaw::ProgramDesc program(int objects) {
    dlaw::ProgramDesc p;
    p.sections = {{".text", 0x1000, 0x9000}};
    for (int i = 0; i < objects; ++i) {
        std::string n = std::string(1, char('a' + i));
        uint64_t at = 0x1000 + 0x100 * uint64_t(i);
        p.objects.push_back(
            {n + ".dbo", "magic " + n, {{n + "1", at, at + 0x10}, {n + "2", at + 0x10, at + 0x40, i == 1}}});
    }
    return p;
}

class StLoad : public testing::Test {
  protected:
    void SetUp() override {
        saved_mode_ = gadr_get_mode();
        dir_ = testing_support::make_temp_dir();
    }
    void TearDown() override {
        if (symTab_) ST_DestroySymTab(symTab_);
        gadr_set_mode(saved_mode_);
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    // Writes the program as prog.dnm and prog.dla; the path of prog.dnm.
    std::string write(const dlaw::ProgramDesc &p) {
        prog_ = dlaw::write_program(p);
        dlaw::write_files(prog_, p, dir_, "prog");
        return dir_ + "/prog.dnm";
    }
    std::string dla() const { return dir_ + "/prog.dla"; }
    // Writes the program and loads its name file into a new table, symTab_.
    STDnm *load(const dlaw::ProgramDesc &p) {
        std::string path = write(p);
        symTab_ = ST_CreateSymTab();
        return ST_LoadDnmFile(symTab_, path.c_str(), nullptr, 0, 0);
    }

    // Every procedure name of a walk.
    std::vector<std::string> walk(int unloadTemps) {
        std::vector<std::string> names;
        STProcIter it;
        ST_ProcIterInit(&it, symTab_, nullptr, 1, unloadTemps);
        while (const STDbg_Proc *p = ST_ProcIterNext(&it)) names.push_back(ST_ProcUseName(p));
        ST_ProcIterEnd(&it);
        return names;
    }

    uint32_t saved_mode_ = GADR_MODE_32BIT;
    STSymTab *symTab_ = nullptr;
    std::string dir_;
    dlaw::Program prog_;
};

STDnm_DloFile *entries(STDnm *dnm, int32_t *count) {
    *count = STDnm_TableCount(dnm, STDNM_DLO_FILES);
    return static_cast<STDnm_DloFile *>(STDnm_TableEntries(dnm, STDNM_DLO_FILES));
}

TEST_F(StLoad, NewTableHoldsTheBuiltInNameFile) {
    symTab_ = ST_CreateSymTab();
    ASSERT_NE(symTab_, nullptr);
    ASSERT_EQ(symTab_->numOrder, 1);
    STDnm *special = symTab_->dnms[symTab_->order[0]];
    EXPECT_STREQ(special->name, "_special.dnm");
    EXPECT_STREQ(special->dlaPath, "_special.dnm");
    EXPECT_EQ(STDnm_TableCount(special, STDNM_STRINGS), 128);
    EXPECT_STREQ(STDnm_String(special, 1), "<<address_taken>>");
    int32_t n = 0;
    STDnm_DloFile *e = entries(special, &n);
    ASSERT_EQ(n, 1);
    EXPECT_TRUE(e[0].noLongerLoadable);
    EXPECT_EQ(symTab_->language, 31);
    // The walk skips its entry without trying to load anything.
    MessageLog log;
    EXPECT_TRUE(walk(1).empty());
    EXPECT_EQ(log.joined(), "");

    FlagScope simple(STFLAG_simpleSpecialDnm, 1);
    STSymTab *plain = ST_CreateSymTab();
    EXPECT_EQ(STDnm_TableCount(plain->dnms[0], STDNM_STRINGS), 0);
    ST_DestroySymTab(plain);
}

TEST_F(StLoad, WalkLoadsYieldsAndUnloadsEachObjectOnce) {
    STDnm *dnm = load(program(3));
    ASSERT_NE(dnm, nullptr);
    EXPECT_EQ(dnm->slot, 1);
    EXPECT_EQ(dnm->refCount, 1);
    EXPECT_NE(dnm->dlaMtime, 0);

    MessageLog log;
    FlagScope loads(STFLAG_reportDloLoads, 1);
    EXPECT_EQ(walk(1), (std::vector<std::string>{"a1", "a2", "b1", "b2", "c1", "c2"}));
    std::vector<std::string> expected;
    for (const char *m : {"a.dbo", "b.dbo", "c.dbo"}) {
        expected.push_back(I + "loading \"" + dla() + "(" + m + ")\"");
        expected.push_back(I + "unloading \"" + dla() + "(" + m + ")\"");
    }
    EXPECT_EQ(log.all(), expected);
    int32_t n = 0;
    STDnm_DloFile *e = entries(dnm, &n);
    for (int32_t i = 0; i < n; ++i) EXPECT_EQ(e[i].dbg, nullptr);
    for (STDbg *slot : symTab_->temp) EXPECT_EQ(slot, nullptr);
    // The archive was kept open for the walk only.
    EXPECT_EQ(symTab_->dla.fp, nullptr);
    EXPECT_EQ(symTab_->dla.nesting, 0);
}

TEST_F(StLoad, PermanentLoadsStayUntilTheTableGoes) {
    STDnm *dnm = load(program(3));
    ASSERT_NE(dnm, nullptr);
    MessageLog log;
    FlagScope loads(STFLAG_reportDloLoads, 1);
    EXPECT_EQ(walk(0).size(), 6u);
    EXPECT_EQ(log.all().size(), 3u);
    int32_t n = 0;
    STDnm_DloFile *e = entries(dnm, &n);
    for (int32_t i = 0; i < n; ++i) {
        ASSERT_NE(e[i].dbg, nullptr);
        EXPECT_EQ(e[i].dbg->refCount, 1);
        EXPECT_EQ(e[i].dbg->tablesLoaded, STDBG_ALL_TABLES);
        EXPECT_EQ(e[i].dbg->iDlo, i);
        EXPECT_EQ(e[i].dbg->dnm, dnm);
    }
    // A second walk finds everything loaded; nothing is read again.
    log.clear();
    EXPECT_EQ(walk(0).size(), 6u);
    EXPECT_EQ(log.joined(), "");
    // A load with another configuration that the object already covers is
    // served as it is.
    EXPECT_EQ(ST_LoadDloFile(dnm, 0, 4, ST_LOADTYPE_PERMANENT), e[0].dbg);
}

TEST_F(StLoad, BadIndicesAndLoadTypes) {
    STDnm *dnm = load(program(1));
    ASSERT_NE(dnm, nullptr);
    MessageLog log;
    EXPECT_EQ(ST_LoadDloFile(dnm, 1, 1, 1), nullptr);
    EXPECT_EQ(ST_LoadDloFile(dnm, -1, 1, 1), nullptr);
    EXPECT_EQ(ST_UnloadTempDloFilesFromLoadType(symTab_, 1), -1);
    EXPECT_EQ(ST_UnloadTempDloFilesFromLoadType(symTab_, 6), -1);
    EXPECT_EQ(log.all(),
              (std::vector<std::string>{E + "[ST_LoadDloFile]: bad iDlo (1)", E + "[ST_LoadDloFile]: bad iDlo (-1)",
                                        E + "[ST_UnloadTempDloFilesFromLoadType] bad loadType(1)",
                                        E + "[ST_UnloadTempDloFilesFromLoadType] bad loadType(6)"}));
    // A bad load type loads permanently.
    log.clear();
    STDbg *dbg = ST_LoadDloFile(dnm, 0, 1, 9);
    ASSERT_NE(dbg, nullptr);
    EXPECT_EQ(log.all(), (std::vector<std::string>{E + "[ST_LoadDloFileFromDloFileInfo] bad loadType(9)"}));
    EXPECT_EQ(dbg->loadType, ST_LOADTYPE_PERMANENT);
    // Temporary slots hold one object each; unloading the slot empties it.
    ST_UnloadDloFile(dbg->dlo);
    STDbg *t3 = ST_LoadDloFile(dnm, 0, 1, 3);
    ASSERT_NE(t3, nullptr);
    EXPECT_EQ(symTab_->temp[3], t3);
    EXPECT_EQ(ST_UnloadTempDloFilesFromLoadType(symTab_, 3), 0);
    EXPECT_EQ(symTab_->temp[3], nullptr);
    int32_t n = 0;
    EXPECT_EQ(entries(dnm, &n)[0].dbg, nullptr);
}

TEST_F(StLoad, ArchiveThatCannotBeOpenedIsNotTriedAgain) {
    const std::string path = write(program(2));
    std::filesystem::remove(dla());
    symTab_ = ST_CreateSymTab();
    STDnm *dnm = ST_LoadDnmFile(symTab_, path.c_str(), nullptr, 0, 0);
    ASSERT_NE(dnm, nullptr);
    MessageLog log;
    EXPECT_TRUE(walk(1).empty());
    EXPECT_EQ(log.all().size(), 4u);  // two for each object
    int32_t n = 0;
    STDnm_DloFile *e = entries(dnm, &n);
    EXPECT_TRUE(e[0].failed && e[1].failed);

    // Failed entries stay failed, even once the archive is there.
    log.clear();
    testing_support::write_file(dla(), std::string(prog_.dla.begin(), prog_.dla.end()));
    EXPECT_TRUE(walk(1).empty());
    EXPECT_EQ(log.joined(), "");
    ST_DestroySymTab(symTab_);

    // A file that is not an archive fails each object without a message of
    // its own and without a reason.
    testing_support::write_file(dla(), "not an archive at all");
    symTab_ = ST_CreateSymTab();
    ASSERT_NE(ST_LoadDnmFile(symTab_, path.c_str(), nullptr, 0, 0), nullptr);
    log.clear();
    EXPECT_TRUE(walk(1).empty());
    EXPECT_EQ(log.all(),
              (std::vector<std::string>{E + ".dlo load failed, could not open \"" + dla() + "(a.dbo)\" (errno 0)",
                                        E + ".dlo load failed, could not open \"" + dla() + "(b.dbo)\" (errno 0)"}));
}

TEST_F(StLoad, RebuiltArchiveIsReportedFourTimes) {
    STDnm *dnm = load(program(6));
    ASSERT_NE(dnm, nullptr);
    utimbuf later{dnm->dlaMtime + 100, dnm->dlaMtime + 100};
    ASSERT_EQ(utime(dla().c_str(), &later), 0);
    MessageLog log;
    EXPECT_EQ(walk(1).size(), 12u);
    const std::string rebuilt = W + "\"" + dla() + "\" appears to have been rebuilt";
    EXPECT_EQ(log.all(), (std::vector<std::string>{rebuilt, rebuilt, rebuilt, rebuilt,
                                                   W + "\"" + dla() + "\" warnings will no longer be given"}));
}

TEST_F(StLoad, MagicStringMustMatchTheEntry) {
    dlaw::ProgramDesc p = program(2);
    p.tweak_entry = [](size_t k, STDnm_DloFile &e) {
        if (k == 1) e.magic = e.name;  // the member name instead of the magic
    };
    ASSERT_NE(load(p), nullptr);
    MessageLog log;
    EXPECT_EQ(walk(1), (std::vector<std::string>{"a1", "a2"}));
    EXPECT_EQ(log.all(),
              (std::vector<std::string>{E + "magic from dbg (magic b) does not match magic from dlo (b.dbo): 3",
                                        E + "Corruption in symbol file is detected:\n" + dla(),
                                        E + ".dlo load failed for \"" + dla() + "(b.dbo)\""}));
}

TEST_F(StLoad, SameNameFileTwice) {
    STDnm *first = load(program(1));
    ASSERT_NE(first, nullptr);
    const std::string path = dir_ + "/prog.dnm";
    MessageLog log;
    // The same file for the same program: nothing to do.
    STDnm *again = ST_LoadDnmFile(symTab_, path.c_str(), nullptr, 0, 0);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->slot, -1);
    EXPECT_EQ(ST_AttachDnm(symTab_, again, 0, 0), 0);
    EXPECT_EQ(log.joined(), "");
    // For another program it is refused, unless it replaces the first.
    std::string other = dir_ + "/other.exe";
    testing_support::write_file(other, "x");
    STDnm *third = ST_LoadDnmFile(symTab_, other.c_str(), path.c_str(), 0, 0);
    ASSERT_NE(third, nullptr);
    EXPECT_EQ(log.all(), (std::vector<std::string>{W + "Attempted to attach already loaded .dnm \"" + path + "\""}));
    EXPECT_EQ(ST_AttachDnm(symTab_, third, 0, 0), 7);
    EXPECT_EQ(ST_AttachDnm(nullptr, third, 0, 0), 1);
    const int32_t slot = first->slot;
    EXPECT_EQ(ST_AttachDnm(symTab_, third, 1, 0), 0);
    EXPECT_EQ(third->slot, slot);
    EXPECT_EQ(first->slot, -1);
    EXPECT_EQ(symTab_->numOrder, 2);
}

TEST_F(StLoad, DetachedNameFileKeepsItsSlotAndObjects) {
    STDnm *dnm = load(program(2));
    ASSERT_NE(dnm, nullptr);
    ASSERT_NE(ST_LoadDloFile(dnm, 0, 1, ST_LOADTYPE_PERMANENT), nullptr);
    const int32_t slot = dnm->slot;
    ST_DetachDnm(symTab_, dnm, 0);
    EXPECT_EQ(symTab_->numOrder, 1);
    EXPECT_EQ(symTab_->numDetached, 1);
    // Unloaded while detached: the entry is not walked again.
    int32_t n = 0;
    ST_UnloadDloFile(&entries(dnm, &n)[0]);
    EXPECT_TRUE(entries(dnm, &n)[0].noLongerLoadable);
    EXPECT_EQ(ST_AttachDnm(symTab_, dnm, 0, 0), 0);
    EXPECT_EQ(dnm->slot, slot);
    EXPECT_EQ(symTab_->numDetached, 0);
    EXPECT_EQ(walk(1), (std::vector<std::string>{"b1", "b2"}));
}

TEST_F(StLoad, ObjectMetInTheArchiveFindsItsEntry) {
    write(program(3));
    FILE *fp = std::fopen(dla().c_str(), "rb");
    ASSERT_NE(fp, nullptr);
    auto load_member = [&](size_t k, uint64_t offset, STDnm **dnm) {
        std::fseek(fp, long(prog_.offsets[k]), SEEK_SET);
        std::string member = std::string(1, char('a' + k)) + ".dbo";
        return ST_LoadDboFromDla(nullptr, dnm, fp, member.c_str(), dla().c_str(), offset, 0);
    };
    MessageLog log;
    // b refers to its name file's strings: the name file comes along, read
    // without its sections.
    STDnm *dnm = nullptr;
    STDbg *dbg = load_member(1, prog_.offsets[1], &dnm);
    ASSERT_NE(dbg, nullptr);
    ASSERT_NE(dnm, nullptr);
    EXPECT_EQ(dbg->dnm, dnm);
    EXPECT_EQ(dbg->iDlo, 1);
    EXPECT_EQ(STDnm_TableCount(dnm, STDNM_SECTIONS), 0);
    int32_t count = 0;
    const STDbg_Proc *procs = STDbg_Procs(dbg, &count);
    ASSERT_EQ(count, 2);
    EXPECT_STREQ(ST_ProcUseName(&procs[1]), "b2");
    // Not the last entry: the name file stays for the caller.
    ST_UnloadDboFromDla(dbg, &dnm, 0);
    ASSERT_NE(dnm, nullptr);
    STDnm_Free(dnm);
    EXPECT_EQ(log.joined(), "");

    // At an offset the name file does not record: found by its magic (with a
    // warning); released on request.
    dnm = nullptr;
    dbg = load_member(1, 12345, &dnm);
    ASSERT_NE(dnm, nullptr);
    EXPECT_EQ(dbg->iDlo, 1);
    EXPECT_EQ(log.all().size(), 1u);
    ST_UnloadDboFromDla(dbg, &dnm, 1);
    EXPECT_EQ(dnm, nullptr);

    // A name file already held is used as it is; unloading the object of
    // its last entry releases it.
    STDnm *held = nullptr;
    ST_UnloadDboFromDla(load_member(0, prog_.offsets[0], &held), &held, 0);
    ASSERT_NE(held, nullptr);
    STDnm *same = held;
    STDbg *c = load_member(2, prog_.offsets[2], &held);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(held, same);
    EXPECT_EQ(c->iDlo, 2);
    ST_UnloadDboFromDla(c, &held, 0);
    EXPECT_EQ(held, nullptr);
    EXPECT_EQ(log.all().size(), 1u);
    std::fclose(fp);
}

TEST_F(StLoad, ReferenceCounts) {
    std::string path = write(program(1));
    STDnm *dnm = ST_LoadDnmFile(nullptr, path.c_str(), nullptr, 0, 0);
    ASSERT_NE(dnm, nullptr);
    EXPECT_EQ(dnm->refCount, 0);
    STDnm_AttachTo(dnm);
    STDnm_AttachTo(dnm);
    STDnm_DetachFrom(dnm);
    EXPECT_EQ(dnm->refCount, 1);
    STDbg *dbg = ST_LoadDloFile(dnm, 0, 1, ST_LOADTYPE_PERMANENT);
    ASSERT_NE(dbg, nullptr);
    STDbg_AttachTo(dbg);
    EXPECT_EQ(dbg->refCount, 2);
    // The name file drops its reference; the object stays for the other.
    int32_t n = 0;
    ST_UnloadDloFile(&entries(dnm, &n)[0]);
    EXPECT_EQ(dbg->refCount, 1);
    MessageLog log;
    dbg->refCount = 0;
    STDbg_DetachFrom(dbg);
    EXPECT_EQ(log.all(), (std::vector<std::string>{W + "[STDbg_DetachFrom]: refCount underflow"}));
    STDnm_DetachFrom(dnm);  // the last reference frees it
}

TEST_F(StLoad, WcharAttributes) {
    symTab_ = ST_CreateSymTab();
    MessageLog log;
    for (const char *size : {"7", "65"}) EXPECT_EQ(ST_NoteWcharAttributes(symTab_, size, "0"), 1);
    EXPECT_EQ(ST_NoteWcharAttributes(symTab_, "16", "2"), 1);
    EXPECT_FALSE(symTab_->wcharKnown);
    EXPECT_EQ(ST_NoteWcharAttributes(symTab_, "8", "1"), 0);
    EXPECT_EQ(ST_NoteWcharAttributes(symTab_, "8", "1"), 0);
    EXPECT_EQ(ST_NoteWcharAttributes(symTab_, "64", "0"), 1);
    EXPECT_EQ(symTab_->wcharSize, 8);
    EXPECT_EQ(log.all(), (std::vector<std::string>{
                             W + "Invalid value for attribute \"scope.wchar_size\": 7",
                             W + "Invalid value for attribute \"scope.wchar_size\": 65",
                             W + "Invalid value for attribute \"scope.wchar_signed\": 2",
                             W + "Got inconsistent information for wchar_t: size 8 bits vs 64 bits, sign 1 vs 0"}));
}

// ---- Name files of objects met directly in the archive, kept between loads

// Files count as settled at once, so that the cache keeps what it reads.
class StLoadKept : public StLoad {
  protected:
    void SetUp() override {
        StLoad::SetUp();
        saved_settle_ = st::dnm_cache_set_settle(-1);
    }
    void TearDown() override {
        if (fp_) std::fclose(fp_);
        st::dnm_cache_clear();
        st::dnm_cache_set_settle(saved_settle_);
        StLoad::TearDown();
    }
    // Loads member k the way the archive walk does: with no name file held.
    STDbg *member(size_t k, STDnm **dnm) {
        if (!fp_) fp_ = std::fopen(dla().c_str(), "rb");
        EXPECT_NE(fp_, nullptr);
        std::fseek(fp_, long(prog_.offsets[k]), SEEK_SET);
        std::string name = std::string(1, char('a' + k)) + ".dbo";
        *dnm = nullptr;
        return ST_LoadDboFromDla(nullptr, dnm, fp_, name.c_str(), dla().c_str(), prog_.offsets[k], 0);
    }
    // Member k's name file, with the object dropped as the walk does.
    STDnm *name_file_of(size_t k) {
        STDnm *dnm = nullptr;
        STDbg *dbg = member(k, &dnm);
        EXPECT_NE(dbg, nullptr);
        EXPECT_NE(dnm, nullptr);
        if (dbg) ST_UnloadDboFromDla(dbg, &dnm, 0);
        return dnm;
    }
    // Rewrites prog.dnm with every table read and `change` applied.
    void rewrite_name_file(const std::function<void(STDnm *)> &change) {
        ASSERT_TRUE(dbgw::rewrite_dnm(dir_ + "/prog.dnm", change));
    }
    std::string text(STDnm *dnm, int32_t i) {
        int32_t n = 0;
        return STDnm_String(dnm, entries(dnm, &n)[i].magic);
    }

    int saved_settle_ = 0;
    FILE *fp_ = nullptr;
};

TEST_F(StLoadKept, EveryMemberGetsANameFileInTheStateAReadGives) {
    write(program(4));
    const int64_t hits = st::dnm_cache_hits();
    MessageLog log;
    FlagScope loads(STFLAG_reportDloLoads, 1);

    // A load dirties everything a holder may change: its own fields, the
    // warning count, loaded, failed and unloaded entries.
    STDnm *first = name_file_of(1);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->config, 4);
    EXPECT_EQ(STDnm_TableCount(first, STDNM_SECTIONS), 0);
    EXPECT_EQ(st::dnm_cache_hits(), hits);
    int32_t n = 0;
    STDnm_DloFile *e = entries(first, &n);
    ASSERT_EQ(n, 4);
    STDnm_AttachTo(first);
    first->dlaMtime = 1;  // the archive looks rebuilt
    for (int k = 0; k < 5; ++k) {
        ASSERT_NE(ST_LoadDloFile(first, 0, 1, ST_LOADTYPE_PERMANENT), nullptr);
        ST_UnloadDloFile(&e[0]);
    }
    ASSERT_NE(ST_LoadDloFile(first, 3, 1, ST_LOADTYPE_PERMANENT), nullptr);
    std::filesystem::rename(dla(), dla() + ".away");
    EXPECT_EQ(ST_LoadDloFile(first, 2, 1, ST_LOADTYPE_PERMANENT), nullptr);
    std::filesystem::rename(dla() + ".away", dla());
    EXPECT_TRUE(e[0].noLongerLoadable && e[2].failed && e[3].dbg);
    const std::string rebuilt = W + "\"" + dla() + "\" appears to have been rebuilt";
    const std::string load_a = I + "loading \"" + dla() + "(a.dbo)\"";
    const std::string unload_a = I + "unloading \"" + dla() + "(a.dbo)\"";
    std::vector<std::string> expected;
    for (int k = 0; k < 5; ++k) {
        expected.push_back(load_a);
        if (k < 4) expected.push_back(rebuilt);
        if (k == 3) expected.push_back(W + "\"" + dla() + "\" warnings will no longer be given");
        expected.push_back(unload_a);
    }
    expected.push_back(I + "loading \"" + dla() + "(d.dbo)\"");
    EXPECT_EQ(std::vector<std::string>(log.all().begin(), log.all().begin() + long(expected.size())), expected);
    STDnm_DetachFrom(first);  // its last reference: released

    // The next member's name file comes from the cache, as a read leaves it.
    log.clear();
    STDnm *dnm = nullptr;
    STDbg *dbg = member(1, &dnm);
    ASSERT_NE(dnm, nullptr);
    EXPECT_EQ(st::dnm_cache_hits(), hits + 1);
    EXPECT_EQ(dbg->dnm, dnm);
    EXPECT_EQ(dbg->iDlo, 1);
    EXPECT_EQ(dnm->config, 4);
    EXPECT_EQ(dnm->refCount, 0);
    EXPECT_EQ(dnm->slot, -1);
    EXPECT_EQ(dnm->dlaMtime, 0);
    EXPECT_EQ(dnm->rebuiltWarnings, 0);
    EXPECT_STREQ(dnm->dlaPath, dla().c_str());
    e = entries(dnm, &n);
    ASSERT_EQ(n, 4);
    for (int32_t i = 0; i < n; ++i) {
        EXPECT_EQ(e[i].owner, dnm) << i;
        EXPECT_EQ(e[i].dbg, i == 1 ? dbg : nullptr) << i;
        EXPECT_FALSE(e[i].failed || e[i].noLongerLoadable || e[i].loadType) << i;
        EXPECT_EQ(text(dnm, i), std::string("magic ") + char('a' + i));
    }
    // Per object: the warnings count from zero again, and the entry that
    // failed in the other object is tried.
    dnm->dlaMtime = 1;
    ASSERT_NE(ST_LoadDloFile(dnm, 2, 1, ST_LOADTYPE_PERMANENT), nullptr);
    EXPECT_EQ(log.all(), (std::vector<std::string>{I + "loading \"" + dla() + "(c.dbo)\"", rebuilt}));
    ST_UnloadDboFromDla(dbg, &dnm, 0);
    ASSERT_NE(dnm, nullptr);
    STDnm_Free(dnm);
    EXPECT_EQ(log.all().size(), 2u);

    // Released through the object of the last entry, and met at a wrong
    // offset (found by magic string): the cache serves both.
    log.clear();
    STDnm *last = name_file_of(3);
    EXPECT_EQ(last, nullptr);
    dnm = nullptr;
    std::fseek(fp_, long(prog_.offsets[1]), SEEK_SET);
    dbg = ST_LoadDboFromDla(nullptr, &dnm, fp_, "b.dbo", dla().c_str(), 7, 0);
    ASSERT_NE(dnm, nullptr);
    EXPECT_EQ(dbg->iDlo, 1);
    ST_UnloadDboFromDla(dbg, &dnm, 1);
    EXPECT_EQ(st::dnm_cache_hits(), hits + 3);
    EXPECT_EQ(log.joined(), W + ".dnm file offset for \"b.dbo\" is out of sync with .dla archive\n");
}

TEST_F(StLoadKept, ChangedNameFileIsReadAgain) {
    write(program(3));
    const int64_t hits = st::dnm_cache_hits();
    MessageLog log;
    STDnm_Free(name_file_of(0));
    STDnm_Free(name_file_of(0));
    EXPECT_EQ(st::dnm_cache_hits(), hits + 1);

    // Another size.
    rewrite_name_file([](STDnm *d) { STDnm_AddString(d, "one more string"); });
    STDnm *dnm = name_file_of(0);
    EXPECT_EQ(st::dnm_cache_hits(), hits + 1);
    EXPECT_EQ(STDnm_String(dnm, uint32_t(STDnm_TableCount(dnm, STDNM_STRINGS) - 16)), std::string("one more string"));
    STDnm_Free(dnm);

    // Just written, the name file may change again within the same second
    // at the same size: its bytes tell.
    st::dnm_cache_clear();
    const int settle = st::dnm_cache_set_settle(3);
    STDnm_Free(name_file_of(0));
    rewrite_name_file([](STDnm *d) {
        char *s = static_cast<char *>(STDnm_TableEntries(d, STDNM_STRINGS));
        for (int32_t i = 0; i + 7 < STDnm_TableCount(d, STDNM_STRINGS); ++i)
            if (std::memcmp(s + i, "magic b", 8) == 0) s[i + 6] = 'z';
    });
    std::fseek(fp_, long(prog_.offsets[1]), SEEK_SET);
    dnm = nullptr;
    STDbg *dbg = ST_LoadDboFromDla(nullptr, &dnm, fp_, "b.dbo", dla().c_str(), prog_.offsets[1], 0);
    ASSERT_NE(dnm, nullptr);
    EXPECT_EQ(text(dnm, 1), "magic z");
    ST_UnloadDboFromDla(dbg, &dnm, 1);
    EXPECT_EQ(st::dnm_cache_hits(), hits + 1);
    // Unchanged, it is served.
    dnm = name_file_of(0);
    EXPECT_EQ(text(dnm, 1), "magic z");
    STDnm_Free(dnm);
    EXPECT_EQ(st::dnm_cache_hits(), hits + 2);
    st::dnm_cache_set_settle(settle);

    // Times set back: another state of the file.
    STDnm_Free(name_file_of(0));
    EXPECT_EQ(st::dnm_cache_hits(), hits + 3);
    utimbuf earlier{1000000, 1000000};
    ASSERT_EQ(utime((dir_ + "/prog.dnm").c_str(), &earlier), 0);
    STDnm_Free(name_file_of(0));
    EXPECT_EQ(st::dnm_cache_hits(), hits + 3);

    // Gone: the read fails as it always did.
    EXPECT_EQ(log.joined(), "");
    std::filesystem::remove(dir_ + "/prog.dnm");
    STDnm *none = nullptr;
    STDbg *alone = member(0, &none);
    ASSERT_NE(alone, nullptr);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(log.all(), (std::vector<std::string>{E + "failed while reading \"" + dir_ +
                                                   "/prog.dnm\" (pos 1, errno 2)"}));
    ST_UnloadDboFromDla(alone, &none, 0);
}

TEST_F(StLoadKept, NameFileHeldOrChangedByItsHolderIsNotShared) {
    write(program(3));
    const int64_t hits = st::dnm_cache_hits();
    MessageLog log;
    // While one load holds it, the next one reads a copy of its own.
    STDnm *held = name_file_of(0);
    STDnm *other = name_file_of(1);
    ASSERT_NE(held, nullptr);
    ASSERT_NE(other, nullptr);
    EXPECT_NE(held, other);
    EXPECT_EQ(st::dnm_cache_hits(), hits);
    for (STDnm *d : {held, other}) {
        int32_t n = 0;
        STDnm_DloFile *e = entries(d, &n);
        ASSERT_EQ(n, 3);
        for (int32_t i = 0; i < n; ++i) EXPECT_EQ(e[i].owner, d);
        EXPECT_EQ(text(d, 2), "magic c");
    }
    STDnm_Free(other);
    STDnm_Free(held);

    // A holder that adds to the tables keeps its own object: the next load
    // does not see the change.
    STDnm *changed = name_file_of(0);
    EXPECT_EQ(st::dnm_cache_hits(), hits + 1);
    ASSERT_NE(changed, nullptr);
    const int32_t strings = STDnm_TableCount(changed, STDNM_STRINGS);
    STDnm_AddString(changed, "added");
    STDnm_Free(changed);
    STDnm *fresh = name_file_of(0);
    EXPECT_EQ(st::dnm_cache_hits(), hits + 2);
    EXPECT_EQ(STDnm_TableCount(fresh, STDNM_STRINGS), strings);
    STDnm_Free(fresh);
    EXPECT_EQ(log.joined(), "");
}

TEST_F(StLoadKept, ReadThatGaveAMessageIsRepeatedForEveryMember) {
    write(program(3));
    rewrite_name_file([](STDnm *d) {
        d->version = STDNM_DEV_VERSION;
        int32_t links[1] = {0};
        STDnm_SetIndexTable(d, STDNM_DLO_FILE_UPDATE_LINKS, links, 1);
    });
    const int64_t hits = st::dnm_cache_hits();
    MessageLog log;
    for (size_t k = 0; k < 3; ++k) STDnm_Free(name_file_of(k));
    const std::string dev = W + "\"" + dir_ + "/prog.dnm\" has version 44, which is the development version";
    const std::string links = W + "[STDnm_Free]: update links present for \"" + dir_ + "/prog.dnm\"";
    // The last member's name file goes with its object; the others with the
    // caller's release.
    EXPECT_EQ(log.all(), (std::vector<std::string>{dev, links, dev, links, dev, links}));
    EXPECT_EQ(st::dnm_cache_hits(), hits);

    // Without the read's warning the name file is kept; the warning of each
    // release stays.
    rewrite_name_file([](STDnm *d) { d->version = STDNM_MAX_VERSION; });
    log.clear();
    for (size_t k = 0; k < 3; ++k) STDnm_Free(name_file_of(k));
    EXPECT_EQ(log.all(), (std::vector<std::string>{links, links, links}));
    EXPECT_EQ(st::dnm_cache_hits(), hits + 2);
}

}  // namespace
