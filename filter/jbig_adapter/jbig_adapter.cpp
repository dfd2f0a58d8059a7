#include "jbig_adapter.h"

#include <cstdio>
#include <cstring>

extern "C" {
#include <jbig.h>
}

// Output sink shared with the callback. The encoder offers no way to stop
// early, so once a piece does not fit, later pieces are only counted.
unsigned char* g_OutputBuffer = nullptr;
static unsigned char* g_OutputEnd = nullptr;
static bool g_OutputOverflow = false;
long* m_TotalOutLen = nullptr;
long* m_OutJBGDataTimes = nullptr;

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

long Tarsel_JBIGCompression(unsigned long width, unsigned long height, unsigned char* inbuf,
                            unsigned char* outbuf, unsigned long outbufSize, long* TotalOutLen,
                            long* OutJBGDataTimes)
{
    if (width == 0 || height == 0 || !inbuf || !outbuf)
        return -1;
    g_OutputBuffer = outbuf;
    g_OutputEnd = outbuf + outbufSize;
    g_OutputOverflow = false;
    m_TotalOutLen = TotalOutLen;
    m_OutJBGDataTimes = OutJBGDataTimes;

    struct jbg_enc_state enc;
    unsigned char* planes[1] = {inbuf};
    jbg_enc_init(&enc, width, height, 1, planes, OutJBIGData, nullptr);
    jbg_enc_layers(&enc, 0);
    jbg_enc_options(&enc, JBIG_PAGE_ORDER, JBG_TPBON, height, 0, 0);
    jbg_enc_out(&enc);
    jbg_enc_free(&enc);

    if (g_OutputOverflow) {
        // What the caller must give next time: the BIH lands first, at the start.
        if (*TotalOutLen < JBIG_BIH_SIZE)
            *TotalOutLen = JBIG_BIH_SIZE;
        return -1;
    }
    return *TotalOutLen;
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

void MakePageBIH(unsigned long width, unsigned long height, unsigned char bih[JBIG_BIH_SIZE])
{
    auto put32 = [](unsigned char* p, unsigned long v) {
        p[0] = (unsigned char)(v >> 24);
        p[1] = (unsigned char)(v >> 16);
        p[2] = (unsigned char)(v >> 8);
        p[3] = (unsigned char)v;
    };
    bih[0] = 0; // DL
    bih[1] = 0; // D
    bih[2] = 1; // P
    bih[3] = 0;
    put32(bih + 4, width);
    put32(bih + 8, height);
    put32(bih + 12, height); // L0: one stripe
    bih[16] = 0;             // MX
    bih[17] = 0;             // MY
    bih[18] = JBIG_PAGE_ORDER;
    bih[19] = JBIG_PAGE_OPTIONS;
}
