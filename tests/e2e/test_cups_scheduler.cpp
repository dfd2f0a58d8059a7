// Real print jobs: a private scheduler, a queue made with the built PPD, PDFs
// sent with lp, the printer stream captured by a file: device.
#include <gtest/gtest.h>

#include <cups/cups.h>
#include <unistd.h>

#include <map>

#include "cups_sandbox.h"
#include "decoded_stream.h"
#include "files.h"
#include "pjl_frame.h"
#include "text_lines.h"

namespace {
// "request id is quorin-1 (1 file(s))" -> "quorin-1"
std::string RequestId(const std::string& lpOut)
{
    const std::string lead = "request id is ";
    size_t at = lpOut.find(lead);
    if (at == std::string::npos)
        return "";
    at += lead.size();
    return lpOut.substr(at, lpOut.find(' ', at) - at);
}

// Waits, at most timeoutSec, until the scheduler lists the job as completed;
// lastAnswer receives what lpstat said last.
bool WaitForCompleted(const PrivateCupsd& cupsd, const std::string& job, int timeoutSec, std::string* lastAnswer)
{
    for (int i = 0; i < timeoutSec * 4; ++i) {
        ProcessResult r = RunClient(cupsd, QUORIN_LPSTAT, {"-W", "completed", "-o", "quorin"});
        *lastAnswer = "status " + std::to_string(r.status) + ": " + r.out + r.err;
        for (const std::string& line : SplitLines(r.out))
            if (line.compare(0, job.size() + 1, job + " ") == 0)
                return true;
        usleep(250 * 1000);
    }
    return false;
}

struct PrintedJob {
    std::string number; // the scheduler's job id
    std::string stream; // what the device received
};

// Prints a PDF on the queue and waits until the job is completed.
PrintedJob Print(const PrivateCupsd& cupsd, const std::string& device, const std::vector<std::string>& lpArgs)
{
    PrintedJob job;
    std::vector<std::string> args = {"-d", "quorin"};
    args.insert(args.end(), lpArgs.begin(), lpArgs.end());
    ProcessResult lp = RunClient(cupsd, QUORIN_LP, args);
    EXPECT_EQ(lp.status, 0) << lp.out << lp.err;
    std::string id = RequestId(lp.out);
    EXPECT_FALSE(id.empty()) << lp.out;
    if (id.empty())
        return job;
    job.number = id.substr(id.rfind('-') + 1);
    std::string lpstat;
    bool completed = WaitForCompleted(cupsd, id, 90, &lpstat);
    std::string errorLog = ReadFile(cupsd.root + "/log/error_log");
    EXPECT_TRUE(completed) << id << " not completed; lpstat said " << lpstat << "\nscheduler log tail:\n"
                           << Tail(errorLog, 6000);
    EXPECT_NE(errorLog.find("[Job " + job.number + "] Job completed."), std::string::npos) << Tail(errorLog, 6000);
    job.stream = ReadFile(device);
    return job;
}

// The page_log line of the job's page total: "quorin root 1 [...] total 5 ...".
bool PageLogTotal(const PrivateCupsd& cupsd, const std::string& job, unsigned pages)
{
    for (const std::string& line : SplitLines(ReadFile(cupsd.root + "/log/page_log")))
        if (line.compare(0, 13 + job.size(), "quorin root " + job + " ") == 0 &&
            line.find("] total " + std::to_string(pages) + " ") != std::string::npos)
            return true;
    return false;
}
// The margins of the queue's media-col-default, as IPP clients read them
// (hundredths of a millimetre), by member name.
std::map<std::string, int> DefaultMediaMargins(const PrivateCupsd& cupsd)
{
    std::map<std::string, int> margins;
    int port = atoi(cupsd.host.substr(cupsd.host.rfind(':') + 1).c_str());
    http_t* http = httpConnect2("127.0.0.1", port, nullptr, AF_INET, HTTP_ENCRYPTION_NEVER, 1, 10000, nullptr);
    if (!http)
        return margins;
    ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
    std::string uri = "ipp://" + cupsd.host + "/printers/quorin";
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, "media-col-default");
    ipp_t* response = cupsDoRequest(http, request, "/");
    ipp_attribute_t* col = ippFindAttribute(response, "media-col-default", IPP_TAG_BEGIN_COLLECTION);
    for (ipp_attribute_t* a = col ? ippFirstAttribute(ippGetCollection(col, 0)) : nullptr; a;
         a = ippNextAttribute(ippGetCollection(col, 0))) {
        std::string name = ippGetName(a);
        if (name.find("-margin") != std::string::npos)
            margins[name] = ippGetInteger(a, 0);
    }
    ippDelete(response);
    httpClose(http);
    return margins;
}
} // namespace

TEST(Scheduler, PrintsPdfsThroughAQueueWithTheBuiltPpd)
{
    PrivateCupsd cupsd;
    std::string why;
    ASSERT_TRUE(StartCupsd(&cupsd, &why)) << why;
    const std::string device = cupsd.root + "/out/quorin.prn";

    ProcessResult add = RunClient(cupsd, QUORIN_LPADMIN,
                                  {"-p", "quorin", "-E", "-v", "file://" + device, "-P", PpdPath()});
    ASSERT_EQ(add.status, 0) << add.out << add.err;
    // The queue offers the PPD's settings to its users.
    ProcessResult opts = RunClient(cupsd, QUORIN_LPOPTIONS, {"-p", "quorin", "-l"});
    EXPECT_NE(opts.out.find("Density/Print Darkness: 1 2 *3 4 5 6"), std::string::npos) << opts.out << opts.err;
    EXPECT_NE(opts.out.find("Duplex/2-Sided Printing: *None DuplexNoTumble DuplexTumble"), std::string::npos);
    EXPECT_NE(opts.out.find("PrintMode/Print Mode: *TextGraphics Photo"), std::string::npos);
    // Applications learn the unprintable edge from here: 12 points each side.
    const std::map<std::string, int> margins = {{"media-bottom-margin", 423}, {"media-left-margin", 423},
                                                {"media-right-margin", 423}, {"media-top-margin", 423}};
    EXPECT_EQ(DefaultMediaMargins(cupsd), margins);

    PrintedJob plain = Print(cupsd, device, {"-t", "five pages", SamplePath("multipage.pdf")});
    ASSERT_FALSE(plain.number.empty());
    EXPECT_TRUE(StartsWithCancelPrefix(plain.stream));
    EXPECT_TRUE(EndsWithTrailer(plain.stream));
    EXPECT_EQ(PjlSetting(plain.stream, "DENSITY"), "4");
    EXPECT_EQ(PjlSetting(plain.stream, "COPIES"), "1");
    DecodedStream decoded = DecodeStream(plain.stream);
    EXPECT_EQ(decoded.status, 0) << decoded.problems;
    ASSERT_EQ(decoded.pages.size(), 5u);
    for (size_t i = 1; i < decoded.pages.size(); ++i)
        EXPECT_GT(decoded.pages[i].blackDots, decoded.pages[i - 1].blackDots) << "page " << i + 1;
    // The scheduler counted the pages from the filter's PAGE: lines.
    EXPECT_TRUE(PageLogTotal(cupsd, plain.number, 5)) << ReadFile(cupsd.root + "/log/page_log");

    // Duplex goes through the filter's spool file, made as the scheduler's
    // unprivileged user in its temporary folder.
    PrintedJob duplex = Print(cupsd, device, {"-o", "Duplex=DuplexNoTumble", "-o", "Density=2",
                                              SamplePath("multipage.pdf")});
    ASSERT_FALSE(duplex.number.empty());
    EXPECT_EQ(PjlSetting(duplex.stream, "DUPLEX"), "ON");
    EXPECT_EQ(PjlSetting(duplex.stream, "DENSITY"), "3");
    DecodedStream sheets = DecodeStream(duplex.stream);
    EXPECT_EQ(sheets.status, 0) << sheets.problems;
    ASSERT_EQ(sheets.pages.size(), 6u);
    EXPECT_EQ(sheets.pages[4].blackDots, 0u) << "the fifth page's sheet has a blank side";
    // The blank side is no page of the document: five impressions.
    EXPECT_TRUE(PageLogTotal(cupsd, duplex.number, 5)) << ReadFile(cupsd.root + "/log/page_log");

    // Two copies of five pages are ten impressions however they are made:
    // by the printer (uncollated), or by the filter, asked through the
    // driver's option or through IPP's document handling.
    struct CopiesCase {
        const char* what;
        std::vector<std::string> options;
        const char* printerCopies;
        size_t sides;
    };
    for (const CopiesCase& c :
         {CopiesCase{"uncollated", {}, "2", 5},
          CopiesCase{"Collate", {"-o", "Collate=True"}, "1", 10},
          CopiesCase{"IPP collated", {"-o", "multiple-document-handling=separate-documents-collated-copies"}, "1",
                     10}}) {
        std::vector<std::string> args = {"-n", "2"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.push_back(SamplePath("multipage.pdf"));
        PrintedJob job = Print(cupsd, device, args);
        ASSERT_FALSE(job.number.empty()) << c.what;
        EXPECT_EQ(PjlSetting(job.stream, "COPIES"), c.printerCopies) << c.what;
        DecodedStream d = DecodeStream(job.stream);
        EXPECT_EQ(d.status, 0) << c.what << ": " << d.problems;
        EXPECT_EQ(d.pages.size(), c.sides) << c.what;
        EXPECT_TRUE(PageLogTotal(cupsd, job.number, 10)) << c.what << "\n"
                                                         << ReadFile(cupsd.root + "/log/page_log");
    }

    // A failing filter would have stopped the queue.
    ProcessResult state = RunClient(cupsd, QUORIN_LPSTAT, {"-p", "quorin"});
    EXPECT_NE(state.out.find("printer quorin is idle"), std::string::npos) << state.out;
    for (const std::string& line : LinesStartingWith(ReadFile(cupsd.root + "/log/error_log"), "E "))
        EXPECT_EQ(line.find("[Job "), std::string::npos) << line;
}
