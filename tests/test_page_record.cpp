#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "bytes.h"
#include "jbig_adapter.h"
#include "page_record.h"
#include "page_slots.h"
#include "stream_parser.h"

namespace {

std::vector<char> Header(JobInfo* slot, DWORD compsize)
{
    std::vector<char> h(PAGE_HEADER_SIZE, (char)0xAA);
    testing::internal::CaptureStderr();
    EXPECT_TRUE(PJL_WritePageHeader(slot, h.data(), compsize));
    testing::internal::GetCapturedStderr();
    return h;
}

BYTE* Build(JobInfo* slot, DWORD* len, std::string* log = nullptr)
{
    testing::internal::CaptureStderr();
    BYTE* r = BuildPageRecord(slot, len);
    std::string err = testing::internal::GetCapturedStderr();
    if (log)
        *log = err;
    return r;
}
} // namespace

TEST(PageHeader, EveryByteIsSetLittleEndian)
{
    std::vector<BYTE> bits(64 / 8 * 32, 0);
    bits[0] = 0xFF;
    bits[5] = 0x81;
    OneBitSlot s(64, 32, bits);
    s.job.inheader.cupsMediaType = 2;
    s.job.inheader.MediaPosition = 3;
    std::vector<char> h = Header(&s.job, 0x01020304);
    const unsigned char want[PAGE_HEADER_SIZE] = {
        'G', 'D', 'I', 0,  64, 0, 0, 0,  32, 0, 0, 0,  0, 1, 0, 0,
        4,   3,   2,   1,  10, 0, 0, 0,  ENG_ISO_A4, ENG_MEDIA_THICK, 3, 0,  1, 1, 0, 1};
    EXPECT_EQ(0, memcmp(h.data(), want, sizeof want));
}

TEST(PageHeader, PaperMediaAndTrayCodes)
{
    OneBitSlot s(32, 32, std::vector<BYTE>(128, 0));
    struct { unsigned w, h; BYTE code; } papers[] = {
        {595, 842, ENG_ISO_A4}, {612, 792, ENG_LETTER}, {396, 612, ENG_ST_LEF}, {553, 757, ENG_16K},
        {842, 595, ENG_PAPER_CUSTOMER}, {596, 842, ENG_PAPER_CUSTOMER}, {0, 0, ENG_PAPER_CUSTOMER}};
    for (auto p : papers) {
        s.job.inheader.PageSize[0] = p.w;
        s.job.inheader.PageSize[1] = p.h;
        EXPECT_EQ((BYTE)Header(&s.job, 2)[PH_PAPER_TYPE], p.code) << p.w << "x" << p.h;
    }
    // Media types past the table print as plain paper instead of reading beyond it.
    struct { unsigned type; BYTE code; } media[] = {
        {0, ENG_MEDIA_PLAIN}, {1, ENG_MEDIA_CARDSTOCK}, {5, ENG_MEDIA_TRANSPARENCY}, {9, ENG_MEDIA_AUTO},
        {10, ENG_MEDIA_PLAIN}, {0xFFFFFFFFu, ENG_MEDIA_PLAIN}};
    for (auto m : media) {
        s.job.inheader.cupsMediaType = m.type;
        EXPECT_EQ((BYTE)Header(&s.job, 2)[PH_MEDIA_TYPE], m.code) << m.type;
    }
    struct { unsigned position; BYTE tray; } trays[] = {{250, 0}, {0, 0}, {1, 1}, {258, 2}};
    for (auto t : trays) {
        s.job.inheader.MediaPosition = t.position;
        EXPECT_EQ((BYTE)Header(&s.job, 2)[PH_MEDIA_POSITION], t.tray) << t.position;
    }
}

TEST(PageHeader, BlackDotsCountEveryBitmapByte)
{
    std::vector<BYTE> bits(7, 0xFF);
    bits[3] = 0x10;
    EXPECT_EQ(Prnt_CountBlackDots(bits.data(), 7), 6 * 8 + 1);
    EXPECT_EQ(Prnt_CountBlackDots(bits.data(), 3), 24);
    EXPECT_EQ(Prnt_CountBlackDots(nullptr, 100), 0);
    BYTE* table = Prnt_CreateBkDotsTbl();
    ASSERT_NE(table, nullptr);
    for (int v = 0; v < 256; ++v)
        ASSERT_EQ(table[v], __builtin_popcount(v)) << v;
    free(table);

    // The blank page's slot has no bitmap: no dots, but its datasize stays.
    JobInfo blank;
    InitJobSlot(&blank, 0);
    blank.page_width = 4992;
    blank.page_height = 7040;
    blank.linebyte = 624;
    std::vector<char> h = Header(&blank, 2);
    EXPECT_EQ(Le32(h, PH_BLACKDOTS), 0u);
    EXPECT_EQ(Le32(h, PH_DATASIZE), 624u * 7040u);
    EXPECT_EQ(Le32(h, PH_COMPSIZE), 2u);
}

TEST(PageRecord, RecordIsLeadInHeaderAndDataThatDecodesToThePage)
{
    std::vector<BYTE> bits(1024 / 8 * 256, 0);
    for (size_t i = 300; i < bits.size(); i += 97)
        bits[i] = 0x3C;
    OneBitSlot s(1024, 256, bits);
    DWORD len = 0;
    std::string log;
    BYTE* rec = Build(&s.job, &len, &log);
    ASSERT_NE(rec, nullptr);
    const std::vector<BYTE> h(rec + 2, rec + PAGE_RECORD_PREFIX);
    EXPECT_EQ(rec[0], 0x1B);
    EXPECT_EQ(rec[1], 0x45);
    EXPECT_EQ(Le32(h, PH_COMPSIZE), len - PAGE_RECORD_PREFIX);
    EXPECT_EQ(Le32(h, PH_BLACKDOTS), (uint32_t)Prnt_CountBlackDots(bits.data(), (DWORD)bits.size()));
    EXPECT_EQ(Le32(h, PH_DATASIZE), bits.size());
    EXPECT_EQ(rec[len - 2], 0xFF);
    EXPECT_EQ(rec[len - 1], 0x02);
    std::vector<uint8_t> decoded;
    std::string why;
    ASSERT_TRUE(DecodePageData(rec + PAGE_RECORD_PREFIX, len - PAGE_RECORD_PREFIX, 1024, 256, &decoded, &why)) << why;
    EXPECT_EQ(decoded, bits);
    EXPECT_NE(log.find("DEBUG: main::outsize 32802 ---------->"), std::string::npos);
    EXPECT_NE(log.find("JbigThread::page data outsize = " + std::to_string(len)), std::string::npos);
    free(rec);
}

TEST(PageRecord, NoisePageLargerThanItsBitmapStillArrivesWhole)
{
    for (DWORD side : {32u, 512u}) {
        std::vector<BYTE> bits = RandomBytes(side / 8 * side, side);
        OneBitSlot s(side, side, bits);
        DWORD len = 0;
        std::string log;
        BYTE* rec = Build(&s.job, &len, &log);
        ASSERT_NE(rec, nullptr) << side;
        EXPECT_GT(len, bits.size() + PAGE_RECORD_PREFIX) << side;
        EXPECT_NE(log.find("coding again"), std::string::npos);
        std::vector<uint8_t> decoded;
        std::string why;
        ASSERT_TRUE(DecodePageData(rec + PAGE_RECORD_PREFIX, len - PAGE_RECORD_PREFIX, side, side, &decoded, &why))
            << why;
        EXPECT_EQ(decoded, bits) << side;
        free(rec);
    }
}

// Coded a few lines at a time while the page is screened, the record is the
// whole page's, byte for byte: also when the data outgrows the bitmap and
// the page is coded once more.
TEST(PageRecord, LineByLineRecordIsTheWholePageRecord)
{
    std::vector<BYTE> text(1024 / 8 * 256, 0);
    for (size_t i = 300; i < text.size(); i += 97)
        text[i] = 0x3C;
    for (const auto& page : {std::make_pair(1024u, text), std::make_pair(512u, RandomBytes(512 / 8 * 512, 9))}) {
        const DWORD width = page.first, height = (DWORD)(page.second.size() * 8 / width);
        OneBitSlot s(width, height, page.second);
        DWORD wholeLen = 0, len = 0;
        BYTE* whole = Build(&s.job, &wholeLen);
        PageRecordCoder coder;
        testing::internal::CaptureStderr();
        EXPECT_TRUE(StartPageRecord(&s.job, &coder));
        for (DWORD upTo : {1u, 2u, height / 3, height - 1})
            CodeRecordLines(&coder, upTo);
        BYTE* rec = FinishPageRecord(&coder, &len);
        testing::internal::GetCapturedStderr();
        ASSERT_TRUE(whole && rec) << width;
        EXPECT_EQ(std::vector<BYTE>(rec, rec + len), std::vector<BYTE>(whole, whole + wholeLen)) << width;
        free(rec);
        free(whole);
    }
}

TEST(PageRecord, RefusesASlotWhoseLinesAreShorterThanThePage)
{
    OneBitSlot s(64, 32, std::vector<BYTE>(64 * 32 / 8, 0));
    s.job.linebyte = 4; // would make the coder read past the bitmap
    DWORD len = 0;
    EXPECT_EQ(Build(&s.job, &len), nullptr);
}
