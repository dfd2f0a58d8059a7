#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bytes.h"
#include "files.h"
#include "filter_process.h"
#include "halftone.h"
#include "jbig_adapter.h"
#include "t82_encoder.h"

extern "C" {
#include <jbig.h>
}

namespace {
typedef std::vector<unsigned char> Bytes;

// Lines of (width + 7) / 8 bytes, as JBIG-KIT takes them.
struct Bitmap {
    unsigned long width, height;
    Bytes bits;
};

Bitmap WhiteBitmap(unsigned long w, unsigned long h)
{
    return {w, h, Bytes((w + 7) / 8 * h, 0)};
}

void SetPixel(Bitmap* b, unsigned long x, unsigned long y)
{
    b->bits[y * ((b->width + 7) / 8) + x / 8] |= (unsigned char)(0x80 >> (x % 8));
}

// Lines of "words": short black runs on a white page, as printed text is.
Bitmap TextBitmap(unsigned long w, unsigned long h)
{
    Bitmap b = WhiteBitmap(w, h);
    std::mt19937 rng(7);
    for (unsigned long top = 40; top + 30 < h; top += 70)
        for (unsigned long x = 40; x + 60 < w; x += 20 + rng() % 40)
            for (unsigned long y = top; y < top + 24; ++y)
                for (unsigned long dx = 0; dx < 4 + rng() % 12; ++dx)
                    if (rng() % 3)
                        SetPixel(&b, x + dx, y);
    return b;
}

// Noise, the bits past the width too (the coders must ignore them).
Bitmap NoiseBitmap(unsigned long w, unsigned long h, unsigned seed = 1)
{
    return {w, h, RandomBytes((w + 7) / 8 * h, seed)};
}

// Small pages of noise thinned by `thin` ANDs: among them, the seeds the
// differential test names hit the arithmetic coder's rare paths.
Bitmap SmallNoise(unsigned seed)
{
    std::mt19937 rng(seed);
    unsigned long w = 8 + rng() % 64, h = 1 + rng() % 16;
    unsigned thin = rng() % 4;
    Bitmap b = WhiteBitmap(w, h);
    for (unsigned char& byte : b.bits) {
        byte = (unsigned char)rng();
        for (unsigned i = 0; i < thin; ++i)
            byte &= (unsigned char)rng();
    }
    return b;
}

// A gradient screened by the filter's own halftone, dark = 1: a photo page.
Bitmap ScreenedGradient(unsigned long w, unsigned long h)
{
    Bytes gray(w * h);
    for (unsigned long y = 0; y < h; ++y)
        for (unsigned long x = 0; x < w; ++x)
            gray[y * w + x] = (unsigned char)((x * 255 / w + y * 97 / h) % 256);
    PageView view = {gray.data(), (DWORD)w, (DWORD)h, (DWORD)w};
    testing::internal::CaptureStderr();
    EXPECT_TRUE(HalftonePage(&view, 3, FALSE));
    testing::internal::GetCapturedStderr();
    Bitmap b = {w, h, Bytes(gray.begin(), gray.begin() + (long)(w / 8 * h))};
    for (unsigned char& byte : b.bits)
        byte = (unsigned char)~byte;
    return b;
}

// Lines that repeat: runs of equal lines of every length, each of them typical.
Bitmap RepeatingLines(unsigned long w, unsigned long h)
{
    Bitmap b = NoiseBitmap(w, h, 4);
    size_t bpl = (w + 7) / 8;
    for (unsigned long y = 1, run = 0; y < h; ++y, ++run)
        if (run % 7 != 0 && y % 11 != 0)
            std::copy_n(b.bits.begin() + (long)((y - 1) * bpl), bpl, b.bits.begin() + (long)(y * bpl));
    return b;
}

// One-pixel lines both ways: the hardest case for typical prediction.
Bitmap HairlineBitmap(unsigned long w, unsigned long h)
{
    Bitmap b = WhiteBitmap(w, h);
    for (unsigned long y = 0; y < h; ++y)
        for (unsigned long x = y % 5 == 0 ? 0 : 3; x < w; x += (y % 5 == 0 ? 1 : 7))
            SetPixel(&b, x, y);
    return b;
}

// The adapter's data for a bitmap, with a room that always fits.
Bytes Compress(const Bitmap& b, long* times = nullptr, JbigCoder coder = JbigDefaultCoder())
{
    Bytes in = b.bits, out(b.bits.size() * 2 + 1024);
    long total = 0, calls = 0;
    long n = JbigCompressWith(coder, b.width, b.height, in.data(), out.data(), out.size(), &total, &calls);
    EXPECT_EQ(in, b.bits) << "the bitmap is read only";
    EXPECT_GT(n, 0);
    EXPECT_EQ(n, total);
    if (times)
        *times = calls;
    out.resize(n > 0 ? (size_t)n : 0);
    return out;
}

Bytes WithBIH(const Bitmap& b, const Bytes& data)
{
    Bytes bie(JBIG_BIH_SIZE + data.size());
    MakePageBIH(b.width, b.height, bie.data());
    std::copy(data.begin(), data.end(), bie.begin() + JBIG_BIH_SIZE);
    return bie;
}

// JBIG-KIT's decoder on the data behind the page's BIH; empty when it fails.
Bytes DecodeWithJbigKit(const Bitmap& b, const Bytes& data)
{
    Bytes bie = WithBIH(b, data), image;
    jbg_dec_state dec;
    jbg_dec_init(&dec);
    if (jbg_dec_in(&dec, bie.data(), bie.size(), nullptr) == JBG_EOK)
        image.assign(jbg_dec_getimage(&dec, 0), jbg_dec_getimage(&dec, 0) + jbg_dec_getsize(&dec));
    jbg_dec_free(&dec);
    return image;
}

// The bitmap as it decodes: the bits past the width are 0.
Bytes Masked(const Bitmap& b)
{
    Bytes bits = b.bits;
    size_t bpl = (b.width + 7) / 8;
    if (b.width % 8)
        for (size_t y = 0; y < b.height; ++y)
            bits[y * bpl + bpl - 1] &= (unsigned char)(0xFF00 >> (b.width % 8));
    return bits;
}
} // namespace

TEST(JbigAdapter, BIHOfAnA4PageAt600Dpi)
{
    unsigned char bih[JBIG_BIH_SIZE];
    MakePageBIH(4992, 7040, bih);
    const unsigned char want[] = {0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x13, 0x80, 0x00, 0x00,
                                  0x1B, 0x80, 0x00, 0x00, 0x1B, 0x80, 0x00, 0x00, 0x00, 0x08};
    EXPECT_EQ(0, memcmp(bih, want, sizeof want));
}

TEST(JbigAdapter, RoundTripsEveryKindOfPageBitForBit)
{
    const Bitmap pages[] = {WhiteBitmap(4992, 7040), TextBitmap(2496, 1024), NoiseBitmap(256, 96),
                            HairlineBitmap(640, 320)};
    for (const Bitmap& b : pages) {
        long calls = 0;
        Bytes data = Compress(b, &calls);
        ASSERT_GE(data.size(), 2u);
        EXPECT_EQ(data[data.size() - 2], 0xFF) << b.width;
        EXPECT_EQ(data[data.size() - 1], 0x02) << b.width;
        EXPECT_GE(calls, 2); // the BIH call plus at least one data piece

        Bytes bie = WithBIH(b, data);
        std::vector<char> image(b.bits.size(), 0x55);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        int rc = Tarsel_BIEDecoding(image.data(), reinterpret_cast<char*>(bie.data()), image.size(), bie.size());
        std::string out = testing::internal::GetCapturedStdout();
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(rc, 0) << b.width;
        EXPECT_EQ(0, memcmp(image.data(), b.bits.data(), image.size())) << b.width;
        // Standard output carries the printer stream.
        EXPECT_TRUE(out.empty());
        EXPECT_NE(err.find("Tarsel_BIEDecoding :: Copy Memory over"), std::string::npos);
    }
    // A white page needs almost nothing.
    EXPECT_LT(Compress(WhiteBitmap(4992, 7040)).size(), 100u);
}

TEST(JbigAdapter, NeverWritesPastItsRoomAndSaysWhatItNeeds)
{
    const Bitmap noise = NoiseBitmap(256, 64, 3);
    Bytes data = Compress(noise);
    ASSERT_GT(data.size(), noise.bits.size()); // noise codes larger than the bitmap

    for (size_t room : {data.size() - 1, noise.bits.size(), (size_t)10}) {
        Bytes in = noise.bits, out(room + 64, 0xEE);
        long total = 0, calls = 0;
        EXPECT_EQ(Tarsel_JBIGCompression(noise.width, noise.height, in.data(), out.data(), room, &total, &calls), -1);
        EXPECT_EQ((size_t)total, data.size());
        for (size_t i = room; i < out.size(); ++i)
            ASSERT_EQ(out[i], 0xEE) << "room " << room << " byte " << i;
    }
    // Exactly the measured room is enough.
    Bytes in = noise.bits, out(data.size());
    long total = 0, calls = 0;
    EXPECT_EQ(Tarsel_JBIGCompression(noise.width, noise.height, in.data(), out.data(), out.size(), &total, &calls),
              (long)data.size());
    EXPECT_EQ(out, data);

    // A white page codes to 2 bytes, but its 20-byte BIH lands first.
    Bitmap white = WhiteBitmap(32, 32);
    Bytes small(19 + 8, 0xEE);
    total = calls = 0;
    EXPECT_EQ(Tarsel_JBIGCompression(32, 32, white.bits.data(), small.data(), 19, &total, &calls), -1);
    EXPECT_EQ(total, JBIG_BIH_SIZE);
    EXPECT_EQ(small[19], 0xEE);
}

TEST(JbigAdapter, CountersThatAreNotZeroMakeTheBIHCount)
{
    Bitmap b = TextBitmap(256, 128);
    Bytes data = Compress(b);
    Bytes in = b.bits, out(b.bits.size() * 2);
    long total = 0, calls = 5;
    long n = Tarsel_JBIGCompression(b.width, b.height, in.data(), out.data(), out.size(), &total, &calls);
    ASSERT_EQ(n, (long)(JBIG_BIH_SIZE + data.size()));
    Bytes bie = WithBIH(b, data);
    EXPECT_EQ(0, memcmp(out.data(), bie.data(), bie.size()));
}

TEST(JbigAdapter, DecoderRefusesDamagedDataAndCopiesNothing)
{
    Bitmap b = TextBitmap(256, 64);
    Bytes bie = WithBIH(b, Compress(b));
    bie.resize(bie.size() - 2); // no end marker
    std::vector<char> image(b.bits.size(), 0x55);
    testing::internal::CaptureStderr();
    int rc = Tarsel_BIEDecoding(image.data(), reinterpret_cast<char*>(bie.data()), image.size(), bie.size());
    testing::internal::GetCapturedStderr();
    EXPECT_NE(rc, 0);
    EXPECT_EQ(image, std::vector<char>(b.bits.size(), 0x55));
}

// JBIG-KIT's own command-line coder, run with the printer's parameters, is the
// independent reference: its file after the 20-byte BIH must equal ours.
TEST(JbigAdapter, MatchesPbmtojbgAndJbgtopbm)
{
    if (!HaveProgram("pbmtojbg") || !HaveProgram("jbgtopbm"))
        GTEST_SKIP() << "jbigkit-bin is not installed";
    std::string dir = MakeTempDir("jbig");
    const Bitmap pages[] = {WhiteBitmap(640, 480), TextBitmap(2496, 1024), NoiseBitmap(512, 128),
                            HairlineBitmap(640, 320)};
    int k = 0;
    for (const Bitmap& b : pages) {
        std::string pbm = dir + "/p" + std::to_string(k) + ".pbm", jbg = dir + "/p" + std::to_string(k) + ".jbg";
        std::string back = dir + "/b" + std::to_string(k++) + ".pbm";
        WriteFile(pbm, "P4\n" + std::to_string(b.width) + " " + std::to_string(b.height) + "\n" +
                           std::string(b.bits.begin(), b.bits.end()));
        std::string cmd = "pbmtojbg -q -s " + std::to_string(b.height) + " -o 0 -p 8 -m 0 " + pbm + " " + jbg;
        ASSERT_EQ(system(cmd.c_str()), 0) << cmd;
        std::string ref = ReadFile(jbg);
        Bytes data = Compress(b);
        Bytes bie = WithBIH(b, data);
        ASSERT_EQ(ref.size(), bie.size()) << b.width;
        EXPECT_EQ(0, memcmp(ref.data(), bie.data(), bie.size())) << b.width;

        // And JBIG-KIT's decoder program reads our BIE back to the bitmap.
        std::string ours = dir + "/ours.jbg";
        WriteFile(ours, std::string(bie.begin(), bie.end()));
        ASSERT_EQ(system(("jbgtopbm " + ours + " " + back).c_str()), 0);
        std::string decoded = ReadFile(back);
        ASSERT_GE(decoded.size(), b.bits.size());
        EXPECT_EQ(0, memcmp(decoded.data() + decoded.size() - b.bits.size(), b.bits.data(), b.bits.size()));
    }
}

// The built-in coder against JBIG-KIT's, bitmap by bitmap: the same bytes,
// the same output calls, and JBIG-KIT's decoder reads them back to the page.
TEST(JbigAdapter, BuiltInCoderGivesJbigKitsBytes)
{
    Bitmap black = WhiteBitmap(1024, 96);
    std::fill(black.bits.begin(), black.bits.end(), 0xFF);
    Bitmap wideText = TextBitmap(32736, 72);
    std::copy_n(RandomBytes(4092 * 4, 6).begin(), 4092 * 4, wideText.bits.end() - 4092 * 4);
    const struct {
        const char* what;
        Bitmap page;
    } cases[] = {
        {"all white, A4", WhiteBitmap(4992, 7040)},
        {"all black", black},
        {"text", TextBitmap(2496, 1024)},
        {"halftoned gradient", ScreenedGradient(1216, 640)},
        {"hairlines", HairlineBitmap(640, 320)},
        {"one pixel wide", NoiseBitmap(1, 97, 5)},
        {"the widest page", wideText},
        {"one line", NoiseBitmap(4992, 1, 7)},
        {"32 lines", TextBitmap(256, 32)},
        {"odd width and height", NoiseBitmap(1001, 333, 9)},
        {"noise, data larger than the bitmap", NoiseBitmap(512, 128)},
        {"repeating lines", RepeatingLines(777, 300)},
        {"a carry through held 0xFF bytes", SmallNoise(375)},
        {"a carry in the flush", SmallNoise(21)},
        {"a carry in the flush through held 0xFF bytes", SmallNoise(6593)},
        {"data ending in a restuffed 0xFF", SmallNoise(614)},
    };
    for (const auto& c : cases) {
        long calls = 0, kitCalls = 0;
        Bytes ours = Compress(c.page, &calls, JBIG_CODER_BUILTIN);
        Bytes kit = Compress(c.page, &kitCalls, JBIG_CODER_JBIGKIT);
        EXPECT_EQ(ours, kit) << c.what;
        EXPECT_EQ(calls, kitCalls) << c.what;
        EXPECT_EQ(DecodeWithJbigKit(c.page, ours), Masked(c.page)) << c.what;
    }

    // Line by line, as a page made in bands comes: the lines never given are white.
    Bitmap whole = TextBitmap(2496, 512);
    std::fill(whole.bits.begin() + (long)whole.bits.size() / 2, whole.bits.end(), 0);
    Bytes out(whole.bits.size());
    JbigSink sink;
    JbigSinkInit(&sink, out.data(), out.size());
    T82Encoder e;
    ASSERT_TRUE(T82EncoderStart(&e, whole.width, whole.height, &sink));
    for (unsigned long y = 0; y < whole.height / 2; ++y)
        T82EncodeLine(&e, whole.bits.data() + y * whole.width / 8);
    T82EncoderFinish(&e);
    T82EncoderFree(&e);
    out.resize(sink.length);
    EXPECT_EQ(out, Compress(whole, nullptr, JBIG_CODER_JBIGKIT));
}
