// Files and folders of a test: fresh folders under the build tree, whole-file
// reads and writes, folder listings.
#ifndef QUORIN_TEST_FILES_H
#define QUORIN_TEST_FILES_H

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

std::string BuildDir();

// A fresh private directory under the build tree's temp area.
std::string MakeTempDir(const std::string& tag);

// The whole file, as text or as a byte vector; empty when it cannot be read.
template <class Bytes = std::string>
Bytes ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteFile(const std::string& path, const std::string& bytes);

// Names in a directory, without "." entries.
std::vector<std::string> DirEntries(const std::string& dir);

// Removes a folder and everything below it, without following links.
void RemoveTree(const std::string& dir);

// Removes a test's folder, or keeps it for a look when the test failed and
// says so on standard error.
void RemoveTreeUnlessFailed(const std::string& dir, const std::string& what);

// Spool files a job made in dir (planted links do not count).
std::vector<std::string> SpoolFilesIn(const std::string& dir);

#endif
