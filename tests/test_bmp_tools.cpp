#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <unistd.h>
#include <vector>

#include "bmp_tools.h"
#include "bytes.h"
#include "files.h"

namespace {
using Bytes = std::vector<BYTE>;

short Create(const std::string& path, short bits, long w, long h, const Bytes* pixels,
             std::string* log = nullptr)
{
    std::string name = path;
    testing::internal::CaptureStderr();
    short rc = CreateNullBMP(&name[0], bits, 600, w, h, pixels ? const_cast<BYTE*>(pixels->data()) : nullptr);
    std::string err = testing::internal::GetCapturedStderr();
    if (log)
        *log = err;
    return rc;
}

// The test barcode: 17 x 4 pixels, 3 bytes per row (4 stored), top-down row r
// holding the bytes 0x10 + r, 0x20 + r, 0x80.
const int kBcWidth = 17, kBcHeight = 4;
BYTE BcByte(int row, int b)
{
    return b == 0 ? 0x10 + row : b == 1 ? 0x20 + row : 0x80;
}

class BmpFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = MakeTempDir("bmp");
        Bytes rows(4 * kBcHeight, 0);
        for (int r = 0; r < kBcHeight; ++r)
            for (int b = 0; b < 3; ++b)
                rows[4 * r + b] = BcByte(r, b);
        bc_ = dir_ + "/bc.bmp";
        ASSERT_TRUE(Create(bc_, 1, kBcWidth, kBcHeight, &rows));
    }
    // Pastes the barcode onto a W x H page preset to 0x55; returns the page.
    Bytes Paste(int W, int H, int dstX, int dstY, int position, int offX, int offY, BOOL* rc = nullptr,
                const std::string& file = "")
    {
        Bytes page((size_t)(W + 7) / 8 * H, 0x55);
        std::string name = file.empty() ? bc_ : file;
        testing::internal::CaptureStderr();
        BOOL ok = PasteImageFile(page.data(), W, H, &name[0], dstX, dstY, position, offX, offY);
        log_ = testing::internal::GetCapturedStderr();
        if (rc)
            *rc = ok;
        else
            EXPECT_TRUE(ok);
        return page;
    }
    // The page expected when `bytes` bytes of `rows` rows land at (byte, row),
    // starting from source row srcRow and byte srcByte.
    static Bytes Expected(int W, int H, int byte, int row, int bytes, int rows, int srcByte = 0,
                          int srcRow = 0)
    {
        Bytes page((size_t)(W + 7) / 8 * H, 0x55);
        for (int r = 0; r < rows; ++r)
            for (int b = 0; b < bytes; ++b)
                page[(size_t)(row + r) * ((W + 7) / 8) + byte + b] = (BYTE)~BcByte(srcRow + r, srcByte + b);
        return page;
    }
    std::string dir_, bc_, log_;
};
} // namespace

TEST_F(BmpFiles, OnePixelTwentyFourBitFile)
{
    Bytes px = {10, 20, 30, 99}; // red, green, blue, pad
    std::string path = dir_ + "/one.bmp";
    ASSERT_TRUE(Create(path, 24, 1, 1, &px));
    Bytes f = ReadFile<Bytes>(path);
    // 600 dpi is 23622 (0x5C46) pixels per metre; the pixel is stored blue, green, red.
    const Bytes want = {'B', 'M', 58, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,
                        40, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 24, 0, 0, 0, 0, 0,
                        4, 0, 0, 0, 0x46, 0x5C, 0, 0, 0x46, 0x5C, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                        30, 20, 10, 99};
    EXPECT_EQ(f, want);
}

TEST_F(BmpFiles, PalettesAndHeaderOnlyFiles)
{
    struct Case {
        short bits;
        DWORD offBits;
        std::vector<std::pair<int, BYTE>> grays; // palette entry, expected gray
    } cases[] = {
        {1, 62, {{0, 0}, {1, 255}}},
        {4, 118, {{0, 0}, {1, 16}, {14, 224}, {15, 255}}},
        {8, 1078, {{0, 0}, {1, 1}, {128, 128}, {255, 255}}},
    };
    for (const Case& c : cases) {
        std::string path = dir_ + "/pal" + std::to_string(c.bits) + ".bmp";
        std::string log;
        ASSERT_TRUE(Create(path, c.bits, 100, 10, nullptr, &log)) << c.bits;
        Bytes f = ReadFile<Bytes>(path);
        ASSERT_EQ(f.size(), c.offBits) << c.bits; // headers and palette only
        EXPECT_EQ(Le32(f, 10), c.offBits);
        DWORD line = GetBMPBytesPerLine(c.bits, 100);
        EXPECT_EQ(Le32(f, 2), c.offBits + line * 10) << c.bits;
        EXPECT_EQ(Le32(f, 34), line * 10) << c.bits;
        EXPECT_EQ(Le32(f, 46), (c.offBits - 54) / 4);
        for (const auto& g : c.grays) {
            size_t at = 54 + 4 * g.first;
            EXPECT_EQ(Bytes(f.begin() + at, f.begin() + at + 4), (Bytes{g.second, g.second, g.second, 0}))
                << c.bits << " entry " << g.first;
        }
        EXPECT_NE(log.find("CreateNullBMP::colorcount = " + std::to_string((c.offBits - 54) / 4)),
                  std::string::npos);
        // bfSize promises pixels that are not there: the loader refuses it.
        std::string name = path;
        BITMAPFILEHEADER fh;
        BITMAPINFO* info = nullptr;
        EXPECT_EQ(vlLoadDIBitmap(&name[0], &info, &fh), nullptr) << c.bits;
    }
}

TEST_F(BmpFiles, RefusesDepthsAndSizesItCannotWrite)
{
    std::string log;
    EXPECT_FALSE(Create(dir_ + "/16.bmp", 16, 4, 4, nullptr, &log));
    EXPECT_NE(log.find("CreateNullBMP::CreateNullBMP() Error"), std::string::npos);
    EXPECT_NE(access((dir_ + "/16.bmp").c_str(), F_OK), 0);
    // A line beyond 65535 bytes or data beyond 4 GiB cannot be stated.
    EXPECT_FALSE(Create(dir_ + "/wide.bmp", 24, 21845, 1, nullptr));
    EXPECT_FALSE(Create(dir_ + "/tall.bmp", 8, 65532, 65540, nullptr));
    EXPECT_FALSE(Create(dir_ + "/neg.bmp", 8, -10, 1, nullptr));
    EXPECT_NE(access((dir_ + "/wide.bmp").c_str(), F_OK), 0);
    EXPECT_TRUE(Create(dir_ + "/max.bmp", 24, 21844, 1, nullptr));
    EXPECT_TRUE(Create(dir_ + "/big.bmp", 8, 65532, 65538, nullptr));
    EXPECT_EQ(Le32(ReadFile<Bytes>(dir_ + "/big.bmp"), 2), 1078u + 65532u * 65538u);
    EXPECT_FALSE(Create(dir_ + "/no/such/dir.bmp", 8, 4, 4, nullptr, &log));
    EXPECT_NE(log.find("CreateNullBMP::Open BMP File failed!"), std::string::npos);
}

TEST_F(BmpFiles, RoundTripKeepsPixelsAndHeaders)
{
    // 8-bit 5 x 3 (8 bytes per line), top-down source rows.
    Bytes px(8 * 3);
    for (size_t i = 0; i < px.size(); ++i)
        px[i] = (BYTE)(i * 11);
    std::string path = dir_ + "/rt.bmp";
    ASSERT_TRUE(Create(path, 8, 5, 3, &px));
    BITMAPFILEHEADER fh;
    BITMAPINFO* info = nullptr;
    LPBYTE block = vlLoadDIBitmap(&path[0], &info, &fh);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(reinterpret_cast<LPBYTE>(info), block);
    EXPECT_EQ(fh.bfType, BMP_TYPE);
    EXPECT_EQ(fh.bfSize, 1078u + 24u);
    EXPECT_EQ(fh.bfOffBits, 1078u);
    BITMAPINFOHEADER bih;
    vlReadInfoHeader(block, &bih);
    EXPECT_EQ(bih.biWidth, 5);
    EXPECT_EQ(bih.biHeight, 3);
    EXPECT_EQ(bih.biBitCount, 8);
    EXPECT_EQ(bih.biSizeImage, 24u);
    EXPECT_EQ(bih.biClrUsed, 256u);
    const BYTE* bits = block + fh.bfOffBits - 14;
    for (int r = 0; r < 3; ++r) // stored bottom-up
        EXPECT_EQ(Bytes(bits + 8 * (2 - r), bits + 8 * (3 - r)), Bytes(px.begin() + 8 * r, px.begin() + 8 * (r + 1)));
    GlobalFree(block);
}

TEST_F(BmpFiles, LoaderRefusesShortAndLyingFiles)
{
    Bytes good = ReadFile<Bytes>(bc_);
    auto loads = [&](const Bytes& b) {
        std::string path = dir_ + "/t.bmp";
        WriteFile(path, std::string(b.begin(), b.end()));
        BITMAPFILEHEADER fh;
        BITMAPINFO* info = reinterpret_cast<BITMAPINFO*>(&fh);
        LPBYTE block = vlLoadDIBitmap(&path[0], &info, &fh);
        bool ok = block != nullptr;
        if (!ok) {
            EXPECT_EQ(info, nullptr);
        }
        GlobalFree(block);
        return ok;
    };
    EXPECT_TRUE(loads(good));
    Bytes notBm = good;
    notBm[0] = 'P';
    EXPECT_FALSE(loads(notBm));
    EXPECT_FALSE(loads(Bytes(good.begin(), good.begin() + 13)));
    EXPECT_FALSE(loads(Bytes(good.begin(), good.end() - 1)));
    for (DWORD size : {0u, 13u, 14u, 53u, 0xFFFFFFFFu}) {
        Bytes b = good;
        PutLe32(&b, 2, size);
        EXPECT_FALSE(loads(b)) << size;
    }
    Bytes extra = good; // trailing bytes beyond bfSize are not read
    extra.resize(good.size() + 100, 0xEE);
    EXPECT_TRUE(loads(extra));
    std::string missing = dir_ + "/missing.bmp";
    EXPECT_EQ(vlLoadDIBitmap(&missing[0], nullptr, nullptr), nullptr);
}

TEST_F(BmpFiles, PastesAtEveryGridPosition)
{
    const int W = 64, H = 20; // 8 bytes per row; the barcode is 17 x 4
    struct Case {
        int position, dstX, dstY;
        int byte, row, bytes, rows;
    } cases[] = {
        {0, 16, 3, 2, 3, 2, 4},  // offsets ignored
        {-5, 16, 3, 2, 3, 2, 4},
        {1, 0, 0, 2, 1, 2, 4},   // X (64 - (17 + 7)) / 2 + 2 = 22
        {2, 0, 0, 5, 1, 2, 4},   // X 64 - 24 + 2 = 42
        {3, 0, 0, 0, 9, 2, 4},   // Y (20 - 4) / 2 + 1 = 9
        {4, 0, 0, 2, 9, 2, 4},
        {5, 0, 0, 5, 9, 2, 4},
        {6, 0, 0, 0, 17, 2, 3},  // Y 20 - 4 + 1 = 17: cut at the bottom
        {7, 0, 0, 2, 17, 2, 3},
        {8, 0, 0, 5, 17, 2, 3},
        {9, 0, 5, 0, 6, 2, 4},   // column by 9 mod 3, row DstY + 1
    };
    for (const Case& c : cases)
        EXPECT_EQ(Paste(W, H, c.dstX, c.dstY, c.position, 2, 1), Expected(W, H, c.byte, c.row, c.bytes, c.rows))
            << "position " << c.position;
    EXPECT_NE(log_.find("PasteImageFile Out, Tick = "), std::string::npos);
}

TEST_F(BmpFiles, CutsAtEveryPageEdge)
{
    const int W = 64, H = 20;
    // Left: 9 pixels off the page drop one whole byte and leave 8 pixels.
    EXPECT_EQ(Paste(W, H, -9, 2, 0, 0, 0), Expected(W, H, 0, 2, 1, 4, 1));
    // Top: the first two rows are above the page.
    EXPECT_EQ(Paste(W, H, 8, -2, 0, 0, 0), Expected(W, H, 1, 0, 2, 2, 0, 2));
    // Right and bottom.
    EXPECT_EQ(Paste(W, H, 56, 3, 0, 0, 0), Expected(W, H, 7, 3, 1, 4));
    EXPECT_EQ(Paste(W, H, 0, 18, 0, 0, 0), Expected(W, H, 0, 18, 2, 2));
    // Wholly outside, also with offsets that would overflow 32 bits.
    const Bytes untouched = Expected(W, H, 0, 0, 0, 0);
    EXPECT_EQ(Paste(W, H, 64, 0, 0, 0, 0), untouched);
    EXPECT_EQ(Paste(W, H, 0, 20, 0, 0, 0), untouched);
    EXPECT_EQ(Paste(W, H, -17, 0, 0, 0, 0), untouched);
    EXPECT_EQ(Paste(W, H, INT_MIN, INT_MIN, 0, 0, 0), untouched);
    EXPECT_EQ(Paste(W, H, 0, 0, 8, INT_MAX, INT_MAX), untouched);
    EXPECT_EQ(Paste(W, H, 0, 0, 4, INT_MIN, INT_MIN), untouched);
    // A page smaller than the image, with a width that is not whole bytes.
    EXPECT_EQ(Paste(16, 2, 0, 0, 0, 0, 0), Expected(16, 2, 0, 0, 2, 2));
    EXPECT_EQ(Paste(13, 3, 0, 0, 0, 0, 0), Expected(13, 3, 0, 0, 1, 3));
}

TEST_F(BmpFiles, PasteRefusesWhatDoesNotFit)
{
    Bytes good = ReadFile<Bytes>(bc_); // 62-byte header, 4 rows of 4 bytes
    struct Case {
        const char* what;
        std::vector<std::pair<size_t, DWORD>> patches; // file offset, 32-bit value
        const char* log;
    } cases[] = {
        {"8 bits", {{28, 8}}, "PasteImageFile::8 bits per pixel refused"},
        {"24 bits", {{28, 24}}, "PasteImageFile::24 bits per pixel refused"},
        {"tall", {{22, 5}}, "does not fit"},
        {"huge height", {{22, 0x7FFFFFFF}}, "does not fit"},
        {"negative height", {{22, (DWORD)-4}}, "image of 17 x -4 pixels refused"},
        {"negative width", {{18, (DWORD)-17}}, "image of -17 x 4 pixels refused"},
        {"huge width", {{18, 0x7FFFFFFF}}, "does not fit"},
        // 2^28 bytes per row times 16 rows is 0 in 32 bits.
        {"row product wraps", {{18, 0x7FFFFFE1}, {22, 16}}, "does not fit"},
        {"offset past data", {{10, 63}}, "does not fit"},
        {"offset past file", {{10, 0xFFFFFFFF}}, "does not fit"},
        {"offset inside header", {{10, 20}}, "does not fit"},
    };
    for (const Case& c : cases) {
        Bytes b = good;
        for (const auto& p : c.patches) {
            if (p.first == 28) // biBitCount is a WORD next to biCompression
                b[28] = (BYTE)p.second;
            else
                PutLe32(&b, p.first, p.second);
        }
        std::string path = dir_ + "/bad.bmp";
        WriteFile(path, std::string(b.begin(), b.end()));
        BOOL rc = TRUE;
        EXPECT_EQ(Paste(64, 20, 0, 0, 0, 0, 0, &rc, path), Expected(64, 20, 0, 0, 0, 0)) << c.what;
        EXPECT_FALSE(rc) << c.what;
        EXPECT_NE(log_.find(c.log), std::string::npos) << c.what << ": " << log_;
    }
    Bytes page(8 * 20, 0);
    EXPECT_FALSE(PasteImageFile(nullptr, 64, 20, &bc_[0], 0, 0, 0, 0, 0));
    EXPECT_FALSE(PasteImageFile(page.data(), 64, 20, nullptr, 0, 0, 0, 0, 0));
    EXPECT_FALSE(PasteImageFile(page.data(), 0, 20, &bc_[0], 0, 0, 0, 0, 0));
    EXPECT_FALSE(PasteImageFile(page.data(), 64, -1, &bc_[0], 0, 0, 0, 0, 0));
}

TEST_F(BmpFiles, PasteBarCodeWritesResultBmp)
{
    ASSERT_EQ(chdir(dir_.c_str()), 0);
    // A white 40 x 6 one-bit source: packed 5 bytes per row, stored 8.
    Bytes white(8 * 6, 0xFF);
    std::string src = dir_ + "/src.bmp";
    ASSERT_TRUE(Create(src, 1, 40, 6, &white));
    const Bytes source = ReadFile<Bytes>(src);

    for (int position : {9, -1}) {
        EXPECT_FALSE(PasteBarCode(&src[0], &bc_[0], position, 0, 0));
        EXPECT_NE(access("result.bmp", F_OK), 0);
    }
    std::string bmp8 = dir_ + "/src8.bmp";
    Bytes white8(40 * 6, 0xFF);
    ASSERT_TRUE(Create(bmp8, 8, 40, 6, &white8));
    EXPECT_FALSE(PasteBarCode(&bmp8[0], &bc_[0], 0, 0, 0));
    EXPECT_NE(access("result.bmp", F_OK), 0);

    // Centre: X (40 - 24) / 2 + 8 = 16, byte 2; Y (6 - 4) / 2 = 1.
    ASSERT_TRUE(PasteBarCode(&src[0], &bc_[0], 4, 8, 0));
    Bytes result = ReadFile<Bytes>("result.bmp");
    ASSERT_EQ(result.size(), source.size());
    EXPECT_TRUE(std::equal(source.begin(), source.begin() + 62, result.begin()));
    for (int top = 0; top < 6; ++top) {
        const BYTE* row = result.data() + 62 + 8 * (5 - top);
        for (int b = 0; b < 8; ++b) {
            BYTE want = b >= 5 ? 0 : 0xFF; // pads come back cleared
            if (top >= 1 && top < 5 && (b == 2 || b == 3))
                want = (BYTE)~BcByte(top - 1, b - 2);
            EXPECT_EQ(row[b], want) << "row " << top << " byte " << b;
        }
    }

    std::string missing = dir_ + "/missing.bmp";
    EXPECT_FALSE(PasteBarCode(&src[0], &missing[0], 0, 0, 0));
    EXPECT_EQ(ReadFile<Bytes>("result.bmp").size(), 0u);
}
