#include "jbig_adapter.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "jbig_sink.h"
#include "t82_encoder.h"

extern "C" {
#include <jbig.h>
}

static_assert(JBIG_PAGE_OPTIONS == JBG_TPBON, "pages are coded with typical prediction only");

namespace {
// JBIG-KIT hands its stripe data over in blocks of JBG_BUFSIZE - 1 bytes.
const size_t kJbigKitPiece = JBG_BUFSIZE - 1;
}

// Output sink shared with the callback, one per thread so that pages are
// coded on every core at once. The encoder offers no way to stop early, so
// once a piece does not fit, later pieces are only counted.
thread_local unsigned char* g_OutputBuffer = nullptr;
static thread_local unsigned char* g_OutputEnd = nullptr;
static thread_local bool g_OutputOverflow = false;
thread_local long* m_TotalOutLen = nullptr;
thread_local long* m_OutJBGDataTimes = nullptr;

void OutJBIGData(unsigned char* start, size_t len, void* /*outBuf*/)
{
    bool fits = !g_OutputOverflow && len <= (size_t)(g_OutputEnd - g_OutputBuffer);
    if (fits)
        memcpy(g_OutputBuffer, start, len);
    else
        g_OutputOverflow = true;
    ++*m_OutJBGDataTimes;
    // The first piece is the BIH: copied, then overwritten by the next one.
    if (*m_OutJBGDataTimes > 1) {
        if (fits)
            g_OutputBuffer += len;
        *m_TotalOutLen += (long)len;
    }
}

namespace {
void CodeWithJbigKit(unsigned long width, unsigned long height, unsigned char* inbuf)
{
    // JBIG-KIT clears the bits past the width in place; the bitmap is the caller's.
    std::vector<unsigned char> copy;
    if (width % 8) {
        copy.assign(inbuf, inbuf + (width + 7) / 8 * height);
        inbuf = copy.data();
    }
    struct jbg_enc_state enc;
    unsigned char* planes[1] = {inbuf};
    jbg_enc_init(&enc, width, height, 1, planes, OutJBIGData, nullptr);
    jbg_enc_layers(&enc, 0);
    jbg_enc_options(&enc, JBIG_PAGE_ORDER, JBIG_PAGE_OPTIONS, height, 0, 0);
    jbg_enc_out(&enc);
    jbg_enc_free(&enc);
}

// The built-in coder writes straight into the room the BIH leaves, and the
// counters move as JBIG-KIT's pieces would move them. False without memory.
bool CodeBuiltIn(unsigned long width, unsigned long height, const unsigned char* inbuf)
{
    unsigned char bih[JBIG_BIH_SIZE];
    MakePageBIH(width, height, bih);
    OutJBIGData(bih, sizeof bih, nullptr);

    JbigSink sink;
    JbigSinkInit(&sink, g_OutputOverflow ? nullptr : g_OutputBuffer,
                 g_OutputOverflow ? 0 : (size_t)(g_OutputEnd - g_OutputBuffer));
    if (!T82EncodePage(width, height, inbuf, &sink))
        return false;
    if (JbigSinkOverflowed(&sink))
        g_OutputOverflow = true;
    else
        g_OutputBuffer += sink.length;
    *m_OutJBGDataTimes += (long)((sink.length + kJbigKitPiece - 1) / kJbigKitPiece);
    *m_TotalOutLen += (long)sink.length;
    return true;
}
} // namespace

JbigCoder JbigDefaultCoder()
{
    static const JbigCoder chosen = [] {
        const char* env = getenv("QUORIN_JBIG_CODER");
        if (env && strcmp(env, "jbigkit") == 0)
            return JBIG_CODER_JBIGKIT;
        if (env && strcmp(env, "builtin") == 0)
            return JBIG_CODER_BUILTIN;
#ifdef QUORIN_JBIG_DEFAULT_JBIGKIT
        return JBIG_CODER_JBIGKIT;
#else
        return JBIG_CODER_BUILTIN;
#endif
    }();
    return chosen;
}

long JbigCompressWith(JbigCoder coder, unsigned long width, unsigned long height, unsigned char* inbuf,
                      unsigned char* outbuf, unsigned long outbufSize, long* TotalOutLen, long* OutJBGDataTimes)
{
    if (width == 0 || height == 0 || !inbuf || !outbuf)
        return -1;
    g_OutputBuffer = outbuf;
    g_OutputEnd = outbuf + outbufSize;
    g_OutputOverflow = false;
    m_TotalOutLen = TotalOutLen;
    m_OutJBGDataTimes = OutJBGDataTimes;

    if (coder == JBIG_CODER_JBIGKIT)
        CodeWithJbigKit(width, height, inbuf);
    else if (!CodeBuiltIn(width, height, inbuf))
        return -1; // no memory: *TotalOutLen asks for no more room

    if (g_OutputOverflow) {
        // What the caller must give next time: the BIH lands first, at the start.
        if (*TotalOutLen < JBIG_BIH_SIZE)
            *TotalOutLen = JBIG_BIH_SIZE;
        return -1;
    }
    return *TotalOutLen;
}

long Tarsel_JBIGCompression(unsigned long width, unsigned long height, unsigned char* inbuf,
                            unsigned char* outbuf, unsigned long outbufSize, long* TotalOutLen,
                            long* OutJBGDataTimes)
{
    return JbigCompressWith(JbigDefaultCoder(), width, height, inbuf, outbuf, outbufSize, TotalOutLen,
                            OutJBGDataTimes);
}

bool JbigLineCoderStart(JbigLineCoder* c, unsigned long width, unsigned long height, unsigned char* outbuf,
                        unsigned long outbufSize)
{
    JbigSinkInit(&c->sink, outbuf, outbufSize);
    return width && height && T82EncoderStart(&c->encoder, width, height, &c->sink);
}

void JbigLineCoderLine(JbigLineCoder* c, const unsigned char* line)
{
    T82EncodeLine(&c->encoder, line);
}

long JbigLineCoderFinish(JbigLineCoder* c, long* needed)
{
    T82EncoderFinish(&c->encoder);
    T82EncoderFree(&c->encoder);
    *needed = (long)c->sink.length;
    return JbigSinkOverflowed(&c->sink) ? -1 : (long)c->sink.length;
}

void JbigLineCoderDrop(JbigLineCoder* c)
{
    T82EncoderFree(&c->encoder);
}

int Tarsel_BIEDecoding(char* image, char* inBuf, unsigned long imageSize, unsigned long inBufLen)
{
    static const char* const name = "Tarsel_BIEDecoding";
    fprintf(stderr, "%s :: In\n", name);
    struct jbg_dec_state dec;
    jbg_dec_init(&dec);
    int result = jbg_dec_in(&dec, reinterpret_cast<unsigned char*>(inBuf), inBufLen, nullptr);
    fprintf(stderr, "%s :: jbg_dec_in decoding result value is: %d\n", name, result);
    if (result == JBG_EOK) {
        // Never copy more than the decoder holds; the rest reads as white.
        unsigned long have = jbg_dec_getsize(&dec);
        unsigned long n = imageSize < have ? imageSize : have;
        memcpy(image, jbg_dec_getimage(&dec, 0), n);
        if (n < imageSize)
            memset(image + n, 0, imageSize - n);
        fprintf(stderr, "%s :: Copy Memory over\n", name);
    }
    jbg_dec_free(&dec);
    return result;
}
