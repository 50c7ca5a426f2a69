// The Windows host: drive letters and '\' in paths, the program name of an
// ".EXE", files binary by default, non-inheritable handles, the switch file
// beside the executable and view paths whose nodes carry drive letters.
// Built with the Windows tool chain and run under wine.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>
#include <io.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "gen_switch.h"
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

void write_text(const std::string &path, const char *text) {
    FILE *f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    std::fputs(text, f);
    std::fclose(f);
}

long file_size(const std::string &path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return long(data.nFileSizeLow);
}

TEST(WinProgramName, ExeExtensionIsDroppedInAnyCase) {
    gen_init("C:\\Tools\\FUNSIZE.EXE", 0, 1);
    EXPECT_STREQ(gen_getprogname(), "FUNSIZE");
    EXPECT_STREQ(gen_getprogpath(), "C:\\Tools\\FUNSIZE.EXE");

    gen_init("d:/bin/funsize.Exe", 0, 1);
    EXPECT_STREQ(gen_getprogname(), "funsize");

    // Another extension stays.
    gen_init("C:funsize.com", 0, 1);
    EXPECT_STREQ(gen_getprogname(), "funsize.com");

    // A relative name is replaced by the executable's full path.
    gen_init("bin\\funsize", 0, 1);
    std::string path = gen_getprogpath();
    EXPECT_EQ(path, plat::executable_path());
    ASSERT_GT(path.size(), 3u);
    EXPECT_EQ(path[1], ':') << path;
    EXPECT_TRUE(ends_with_nocase(path, "\\win_unit_tests.exe")) << path;
    EXPECT_STREQ(gen_getprogname(), "win_unit_tests");
}

TEST(WinStartUp, FilesAreBinaryUnlessTextIsAsked) {
    gen_init("C:\\Tools\\funsize.exe", 0, 1);
    std::string dir = temp_dir("fsbin");
    std::string bin = dir + "\\bin.txt", text = dir + "\\text.txt";
    FILE *f = gen_fopen(bin.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("a\nb\n", f);
    std::fclose(f);
    f = gen_fopen(text.c_str(), "wt");
    ASSERT_NE(f, nullptr);
    std::fputs("a\nb\n", f);
    std::fclose(f);
    EXPECT_EQ(file_size(bin), 4);
    EXPECT_EQ(file_size(text), 6);

    // The sockets layer is started: a socket can be made.
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    EXPECT_NE(s, INVALID_SOCKET) << WSAGetLastError();
    if (s != INVALID_SOCKET) closesocket(s);
}

TEST(WinFiles, OpenedHandlesAreNotInherited) {
    std::string dir = temp_dir("fsinh");
    std::string path = dir + "\\f.bin";
    write_text(path, "x");
    FILE *f = gen_fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    DWORD flags = 0;
    ASSERT_TRUE(GetHandleInformation(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f))), &flags));
    EXPECT_EQ(flags & HANDLE_FLAG_INHERIT, 0u);
    std::fclose(f);

    // The C library's own open leaves the handle inheritable; the wrapper is
    // what changes it.
    f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    ASSERT_TRUE(GetHandleInformation(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f))), &flags));
    EXPECT_NE(flags & HANDLE_FLAG_INHERIT, 0u);
    std::fclose(f);
}

TEST(WinPaths, DriveLettersAndBackslashes) {
    EXPECT_EQ(take(gen_path_join("c:\\a", "..\\b")), "C:\\b");
    EXPECT_EQ(take(gen_path_join("a/", "b")), "a\\b");
    EXPECT_EQ(take(gen_path_join("a", "D:/x")), "D:/x");
    EXPECT_EQ(take(gen_full_path("d:/x/./y/../z")), "D:\\x\\z");
    EXPECT_EQ(take(gen_dirname("C:\\x")), "C:\\");
    EXPECT_EQ(take(gen_dirname("C:x")), "C:");
    EXPECT_STREQ(gen_basename("C:file.o"), "file.o");
    EXPECT_STREQ(gen_basename("C:\\dir/file.o"), "file.o");
    EXPECT_TRUE(gen_path_is_absolute("c:rel"));
    EXPECT_TRUE(gen_path_is_absolute("\\x"));

    // The system's full path names, with the drive letter upper-cased.
    EXPECT_EQ(plat::full_path_name("c:/one/../two//three"), "c:\\two\\three");
    EXPECT_EQ(take(gen_canonical_path("c:/one/../two")), "C:\\two");

    // Roots and trailing separators, asked of the file attributes.
    EXPECT_EQ(gen_is_directory("C:"), 1);
    EXPECT_EQ(gen_is_directory("C:\\"), 1);
    EXPECT_EQ(gen_is_directory("c:/windows/"), 1);
    EXPECT_EQ(gen_is_directory("C:\\windows\\win.ini"), 0);
    EXPECT_EQ(gen_is_directory("C:\\no such directory"), 0);

    // Letter case and separators do not make two files of one.
    EXPECT_TRUE(gen_same_file("C:\\Windows\\win.ini", "c:/windows/./WIN.INI"));
    EXPECT_FALSE(gen_same_file("C:\\Windows\\win.ini", "C:\\Windows\\system.ini"));

    // Programs are found along "PATH" (';'-separated) with ".exe" added.
    std::string found = take(gen_find_program("cmd", false, true));
    EXPECT_TRUE(ends_with_nocase(found, "\\system32\\cmd.exe")) << found;
    EXPECT_EQ(found[1], ':') << found;
}

TEST(WinQueries, UserAndApplicationData) {
    char *user = gen_getusername();
    ASSERT_NE(user, nullptr);
    EXPECT_GT(std::strlen(user), 0u);
    gen_free_fn(user);
    const char *appdata = gen_getappdata();
    ASSERT_NE(appdata, nullptr);
    EXPECT_EQ(gen_is_directory(appdata), 1) << appdata;
    // The shell's folder is found without the environment too.
    std::string shell = plat::shell_appdata_folder();
    EXPECT_EQ(shell.size() > 2 ? shell[1] : 0, ':') << shell;
    EXPECT_EQ(gen_is_directory(shell.c_str()), 1) << shell;
}

TEST(WinSwitches, SwitchFileBesideTheExecutable) {
    std::string module;
    ASSERT_EQ(plat::module_file_name(reinterpret_cast<const void *>(&gen_switch_find), module), plat::MODULE_NAME_OK);
    EXPECT_TRUE(gen_strequal_nocase(module.c_str(), plat::executable_path().c_str())) << module;

    // The executable's path with ".gsw" instead of ".exe".
    std::string gsw = module.substr(0, module.size() - 4) + ".gsw";
    write_text(gsw, "# beside the program\r\nsamplegswitch 1\r\n");
    gen_switch_use_file(nullptr);
    gen_switch_reset();
    const char *args[] = {"win_unit_tests", nullptr};
    gen_switch_init(1, args);
    DeleteFileA(gsw.c_str());
    gen_switch_def *sample = gen_switch_find("SampleGSwitch");
    ASSERT_NE(sample, nullptr);
    EXPECT_EQ(sample->value, 1);
    EXPECT_EQ(sample->source, uint32_t(GEN_SWITCH_GSW_FILE));
}

TEST(WinViewPaths, NodesWithDriveLetters) {
    std::string dir = temp_dir("fsvp");
    std::string work = dir + "\\work", base = dir + "\\base";
    CreateDirectoryA(work.c_str(), nullptr);
    CreateDirectoryA(base.c_str(), nullptr);
    write_text(base + "\\only.txt", "lower");
    ASSERT_TRUE(SetCurrentDirectoryA(work.c_str()));

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

    FILE *f = gen_fopen("only.txt", "rb");
    ASSERT_NE(f, nullptr);
    char buf[16] = {};
    EXPECT_EQ(std::fread(buf, 1, sizeof buf - 1, f), 5u);
    EXPECT_STREQ(buf, "lower");
    std::fclose(f);
    EXPECT_EQ(file_size(work + "\\only.txt"), -1);  // reading copies nothing

    // "^\" names node 0 whatever the current directory.
    ASSERT_TRUE(SetCurrentDirectoryA(base.c_str()));
    f = gen_fopen("^\\only.txt", "rb");
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
