// libFuzzer target: the built-in JBIG coder against JBIG-KIT on the same
// page, in ample room and in too little: the same bytes, counters and
// results, nothing written past the room, and JBIG-KIT's decoder reads the
// data back to the page.
//
// Input: 4 parameter bytes, then the page's bytes, line after line (what the
// input lacks is white).
//   0-1  width - 1 (low 11 bits), 2 height - 1
//   3    bits 0-1: each line repeated that many times more; bits 4-7: the
//        room of the second run, in sixteenths of the data's length
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "jbig_adapter.h"

extern "C" {
#include <jbig.h>
}

namespace {
typedef std::vector<unsigned char> Bytes;

struct Run {
    long result, total, calls;
    Bytes out;
};

// The room is allocated at its exact size: AddressSanitizer sees any write past it.
Run Code(JbigCoder coder, unsigned long width, unsigned long height, const Bytes& page, size_t room)
{
    Bytes in = page;
    unsigned char* out = static_cast<unsigned char*>(malloc(room ? room : 1));
    Run r = {0, 0, 0, {}};
    r.result = JbigCompressWith(coder, width, height, in.data(), out, room, &r.total, &r.calls);
    if (r.result > 0)
        r.out.assign(out, out + r.result);
    free(out);
    if (in != page)
        abort(); // the page is read only
    return r;
}

void Same(const Run& a, const Run& b)
{
    if (a.result != b.result || a.total != b.total || a.calls != b.calls || a.out != b.out)
        abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4)
        return 0;
    unsigned long width = 1 + ((data[0] | data[1] << 8) & 0x7FF), height = 1 + data[2];
    unsigned repeat = data[3] & 3, share = data[3] >> 4;
    data += 4;
    size -= 4;

    size_t bpl = (width + 7) / 8;
    Bytes page(bpl * height, 0);
    for (size_t y = 0; y < height && size; y += 1 + repeat) {
        size_t n = size < bpl ? size : bpl;
        for (size_t r = 0; r <= repeat && y + r < height; ++r)
            memcpy(&page[(y + r) * bpl], data, n);
        data += n;
        size -= n;
    }

    size_t ample = page.size() * 2 + 64;
    Run ours = Code(JBIG_CODER_BUILTIN, width, height, page, ample);
    Same(ours, Code(JBIG_CODER_JBIGKIT, width, height, page, ample));
    if (share) {
        size_t room = (size_t)ours.result * share / 16;
        Same(Code(JBIG_CODER_BUILTIN, width, height, page, room), Code(JBIG_CODER_JBIGKIT, width, height, page, room));
    }

    Bytes bie(JBIG_BIH_SIZE);
    MakePageBIH(width, height, bie.data());
    bie.insert(bie.end(), ours.out.begin(), ours.out.end());
    jbg_dec_state dec;
    jbg_dec_init(&dec);
    if (jbg_dec_in(&dec, bie.data(), bie.size(), nullptr) != JBG_EOK || jbg_dec_getsize(&dec) != page.size())
        abort();
    const unsigned char* image = jbg_dec_getimage(&dec, 0);
    unsigned char lastMask = (unsigned char)(0xFF00 >> (width % 8 ? width % 8 : 8));
    for (size_t i = 0; i < page.size(); ++i)
        if (image[i] != (page[i] & ((i + 1) % bpl ? 0xFF : lastMask)))
            abort();
    jbg_dec_free(&dec);
    return 0;
}
