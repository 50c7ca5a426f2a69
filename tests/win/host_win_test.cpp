// The Windows host: drive letters and '\' in paths, the program name of an
// ".EXE", files binary by default, non-inheritable handles and view paths
// whose nodes carry drive letters. Built with the Windows tool chain and run
// under wine; a program started as FUNSIZE.EXE, its switch file beside it and
// operands with drive letters are shown end to end (tests/wine).
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>
#include <io.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "indgen.h"
#include "indgeninit.h"
#include "indgensys.h"
#include "platform.h"
#include "viewpath.h"

namespace {

std::string take(char *s) {
    std::string r = s ? s : "(null)";
    gen_free_fn(s);
    return r;
}

bool ends_with_nocase(const std::string &s, const std::string &tail) {
    return s.size() >= tail.size() && gen_strequal_nocase(s.c_str() + s.size() - tail.size(), tail.c_str());
}

// A fresh directory under the system's temporary folder, as a drive path.
std::string temp_dir(const char *name) {
    char base[MAX_PATH + 1];
    DWORD n = GetTempPathA(sizeof base, base);
    EXPECT_GT(n, 0u);
    std::string dir = std::string(base, n) + name + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(dir.c_str(), nullptr);
    return dir;
}

// Writes text through gen_fopen with the given mode; the size of the file.
long written_size(const std::string &path, const char *mode, const char *text) {
    FILE *f = gen_fopen(path.c_str(), mode);
    if (!f) return -2;
    std::fputs(text, f);
    std::fclose(f);
    WIN32_FILE_ATTRIBUTE_DATA data;
    return GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ? long(data.nFileSizeLow) : -1;
}

TEST(WinProgramName, ExeExtensionIsDroppedInAnyCase) {
    // Another extension stays.
    const std::pair<const char *, const char *> names[] = {
        {"C:\\Tools\\FUNSIZE.EXE", "FUNSIZE"}, {"d:/bin/funsize.Exe", "funsize"}, {"C:funsize.com", "funsize.com"}};
    for (const auto &[argv0, name] : names) {
        gen_init(argv0, 0, 1);
        EXPECT_STREQ(gen_getprogname(), name) << argv0;
    }
    gen_init(names[0].first, 0, 1);
    EXPECT_STREQ(gen_getprogpath(), names[0].first);

    // A relative name is replaced by the executable's full path.
    gen_init("bin\\funsize", 0, 1);
    std::string path = gen_getprogpath();
    EXPECT_EQ(path, plat::executable_path());
    ASSERT_GT(path.size(), 3u);
    EXPECT_EQ(path[1], ':') << path;
    EXPECT_TRUE(ends_with_nocase(path, "\\win_unit_tests.exe")) << path;
    EXPECT_STREQ(gen_getprogname(), "win_unit_tests");
}

TEST(WinFiles, BinaryUnlessTextIsAskedAndNotInherited) {
    gen_init("C:\\Tools\\funsize.exe", 0, 1);
    const std::string dir = temp_dir("fsbin");
    EXPECT_EQ(written_size(dir + "\\bin.txt", "w", "a\nb\n"), 4);
    EXPECT_EQ(written_size(dir + "\\text.txt", "wt", "a\nb\n"), 6);

    // The sockets layer is started: a socket can be made.
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    EXPECT_NE(s, INVALID_SOCKET) << WSAGetLastError();
    if (s != INVALID_SOCKET) closesocket(s);

    // The C library's own open leaves the handle inheritable; the wrapper is
    // what changes it.
    for (bool wrapped : {true, false}) {
        FILE *f = wrapped ? gen_fopen((dir + "\\bin.txt").c_str(), "rb") : std::fopen((dir + "\\bin.txt").c_str(), "rb");
        ASSERT_NE(f, nullptr);
        DWORD flags = 0;
        ASSERT_TRUE(GetHandleInformation(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f))), &flags));
        EXPECT_EQ((flags & HANDLE_FLAG_INHERIT) != 0, !wrapped);
        std::fclose(f);
    }
}

TEST(WinPaths, DriveLettersAndBackslashes) {
    const std::pair<std::string, std::string> cases[] = {
        {take(gen_path_join("c:\\a", "..\\b")), "C:\\b"},
        {take(gen_path_join("a/", "b")), "a\\b"},
        {take(gen_path_join("a", "D:/x")), "D:/x"},
        {take(gen_full_path("d:/x/./y/../z")), "D:\\x\\z"},
        {take(gen_dirname("C:\\x")), "C:\\"},
        {take(gen_dirname("C:x")), "C:"},
        {gen_basename("C:file.o"), "file.o"},
        {gen_basename("C:\\dir/file.o"), "file.o"},
        // The system's full path names, with the drive letter upper-cased.
        {plat::full_path_name("c:/one/../two//three"), "c:\\two\\three"},
        {take(gen_canonical_path("c:/one/../two")), "C:\\two"},
    };
    for (const auto &[got, want] : cases) EXPECT_EQ(got, want);
    EXPECT_TRUE(gen_path_is_absolute("c:rel") && gen_path_is_absolute("\\x"));

    // Roots and trailing separators, asked of the file attributes.
    const std::pair<const char *, int> dirs[] = {{"C:", 1}, {"C:\\", 1}, {"c:/windows/", 1}, {"C:\\windows\\win.ini", 0},
                                                 {"C:\\no such directory", 0}};
    for (const auto &[path, is_dir] : dirs) EXPECT_EQ(gen_is_directory(path), is_dir) << path;

    // Letter case and separators do not make two files of one.
    EXPECT_TRUE(gen_same_file("C:\\Windows\\win.ini", "c:/windows/./WIN.INI"));
    EXPECT_FALSE(gen_same_file("C:\\Windows\\win.ini", "C:\\Windows\\system.ini"));

    // Programs are found along "PATH" (';'-separated) with ".exe" added.
    std::string found = take(gen_find_program("cmd", false, true));
    EXPECT_TRUE(ends_with_nocase(found, "\\system32\\cmd.exe")) << found;
    EXPECT_EQ(found[1], ':') << found;
}

TEST(WinQueries, UserAndApplicationData) {
    EXPECT_GT(take(gen_getusername()).size(), 0u);
    const char *appdata = gen_getappdata();
    ASSERT_NE(appdata, nullptr);
    EXPECT_EQ(gen_is_directory(appdata), 1) << appdata;
    // The shell's folder is found without the environment too.
    std::string shell = plat::shell_appdata_folder();
    EXPECT_EQ(shell.size() > 2 ? shell[1] : 0, ':') << shell;
    EXPECT_EQ(gen_is_directory(shell.c_str()), 1) << shell;
}

// Reading a file only the lower node has, with nodes with drive letters, runs
// end to end; here the spellings of nodes and paths.
TEST(WinViewPaths, NodesWithDriveLetters) {
    std::string dir = temp_dir("fsvp");
    std::string work = dir + "\\work", base = dir + "\\base";
    CreateDirectoryA(work.c_str(), nullptr);
    CreateDirectoryA(base.c_str(), nullptr);
    ASSERT_EQ(written_size(base + "\\only.txt", "wb", "lower"), 5);
    ASSERT_TRUE(SetCurrentDirectoryA(base.c_str()));

    // ':' separates nodes, except after the drive letter of a node; the
    // nodes are given with '/' and in another letter case.
    std::string list = work + ";" + base;
    for (char &c : list)
        if (c == '\\') c = '/';
    list[0] = char(std::tolower(static_cast<unsigned char>(list[0])));
    ASSERT_EQ(_putenv_s("NVPATH", list.c_str()), 0);
    gen_viewpathing(0);
    gen_viewpathing(1);
    EXPECT_TRUE(gen_viewpath_active());

    // "^\" names node 0 whatever the current directory.
    FILE *f = gen_fopen("^\\only.txt", "rb");
    ASSERT_NE(f, nullptr);
    std::fclose(f);

    // A path spelled with another drive-letter case is inside the view.
    std::string inside = work + "\\sub\\x.o";
    inside[0] = char(std::tolower(static_cast<unsigned char>(inside[0])));
    EXPECT_EQ(take(gen_vp_relative(inside.c_str())), "sub/x.o");

    _putenv_s("NVPATH", "");
    gen_viewpathing(0);
    EXPECT_FALSE(gen_viewpath_active());
}

}  // namespace
