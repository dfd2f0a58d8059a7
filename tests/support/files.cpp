#include "files.h"

#include <dirent.h>
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
