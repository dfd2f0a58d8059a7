#include "files.h"

#include <cstdio>
#include <dirent.h>
#include <ftw.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

std::string BuildDir()
{
    return QUORIN_BUILD_DIR;
}

std::string MakeTempDir(const std::string& tag)
{
    std::string base = BuildDir() + "/test-tmp";
    mkdir(base.c_str(), 0755);
    std::string templ = base + "/" + tag + "-XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data()))
        return base;
    return buf.data();
}

bool WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out << bytes;
    return (bool)out;
}

std::vector<std::string> DirEntries(const std::string& dir)
{
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.')
                names.push_back(e->d_name);
        closedir(d);
    }
    return names;
}

std::vector<std::string> SpoolFilesIn(const std::string& dir)
{
    std::vector<std::string> spool;
    struct stat st;
    for (const std::string& name : DirEntries(dir))
        if (name.rfind("swspool", 0) == 0 && lstat((dir + "/" + name).c_str(), &st) == 0 && !S_ISLNK(st.st_mode))
            spool.push_back(name);
    return spool;
}

void RemoveTree(const std::string& dir)
{
    nftw(
        dir.c_str(), [](const char* path, const struct stat*, int, struct FTW*) { return remove(path); }, 16,
        FTW_DEPTH | FTW_PHYS);
}

void RemoveTreeUnlessFailed(const std::string& dir, const std::string& what)
{
    if (dir.empty())
        return;
    if (testing::Test::HasFailure())
        fprintf(stderr, "%s kept in %s\n", what.c_str(), dir.c_str());
    else
        RemoveTree(dir);
}
