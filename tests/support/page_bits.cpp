#include "page_bits.h"

#include <fstream>

bool ReadPbm(const std::string& path, Pbm* pbm)
{
    std::ifstream f(path, std::ios::binary);
    std::string magic;
    f >> magic >> pbm->width >> pbm->height;
    f.get();
    if (!f || magic != "P4")
        return false;
    pbm->bits.resize((size_t)(pbm->width + 7) / 8 * pbm->height);
    f.read(reinterpret_cast<char*>(pbm->bits.data()), (std::streamsize)pbm->bits.size());
    return (size_t)f.gcount() == pbm->bits.size();
}
