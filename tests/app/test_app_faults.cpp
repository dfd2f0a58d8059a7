// The printer application against hostile and careless clients: whatever
// they send, the server stays up and answering, every job ends (printed,
// refused up front, or aborted with a reason), nothing is left running, and
// SIGTERM stops it within seconds.
#include <csignal>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "app_documents.h"
#include "app_server.h"
#include "decoded_job.h"
#include "ipp_client.h"

namespace {
const int kJobTimeout = 30, kDocumentTimeout = 5;
// Seconds a job may take to end, and the server to stop, on a loaded machine.
const int kJobEnd = 180, kStop = 15;
const char kA6[] = "iso_a6_105x148mm";
const char kPsLoop[] = "{ } loop\n"; // runs for ever in Ghostscript

std::string Sample(const char* name)
{
    return ReadFile(std::string(QUORIN_SOURCE_DIR) + "/samples/" + name);
}

std::string RasterDocument(const std::string& dir, unsigned pages, cups_mode_t mode)
{
    std::string path = dir + "/raster";
    WriteRasterFile(path, NumberedPages(GrayPageHeader(kA6), pages), mode);
    return ReadFile(path);
}

struct Documents {
    std::string pwg, urf, pdf, jpeg, png;
    explicit Documents(const std::string& dir)
        : pwg(RasterDocument(dir, 2, CUPS_RASTER_WRITE_PWG)), urf(RasterDocument(dir, 1, CUPS_RASTER_WRITE_APPLE)),
          pdf(Sample("text.pdf"))
    {
        WriteHalfBlackJpeg(dir + "/half.jpg");
        WriteHalfBlackPng(dir + "/half.png");
        jpeg = ReadFile(dir + "/half.jpg");
        png = ReadFile(dir + "/half.png");
    }
};

std::string LogOf(const AppServer& app)
{
    std::string log = ReadFile(app.dir + "/app.log");
    return log.substr(log.size() > 3000 ? log.size() - 3000 : 0);
}

// Rounds of concurrent jobs in every printable format; all complete, each
// with its own pages.
void PrintRounds(const AppServer& app, const Documents& docs, int rounds, int perRound)
{
    const struct {
        const std::string& doc;
        const char* format;
    } mix[] = {{docs.pwg, "image/pwg-raster"}, {docs.urf, "image/urf"}, {docs.pdf, "application/pdf"},
               {docs.jpeg, "image/jpeg"}, {docs.png, "image/png"}};
    for (int r = 0; r < rounds; ++r) {
        std::vector<SentJob> sent(perRound);
        std::vector<std::thread> clients;
        for (int i = 0; i < perRound; ++i)
            clients.emplace_back([&, i] {
                const auto& m = mix[i % 5];
                sent[i] = SendJob(app.port, m.doc, m.format, "r" + std::to_string(r) + "j" + std::to_string(i),
                                  {std::string("media=") + kA6});
            });
        for (std::thread& t : clients)
            t.join();
        for (int i = 0; i < perRound; ++i) {
            SCOPED_TRACE("round " + std::to_string(r) + ", job " + std::to_string(i) + " (" + mix[i % 5].format + ")");
            ASSERT_EQ(sent[i].status, IPP_STATUS_OK);
            EndedJob end = WaitForJobEnd(app.port, sent[i].id, kJobEnd);
            ASSERT_EQ(end.state, "completed") << end.message << LogOf(app);
            DecodedJob d = DecodeJob(ReadFile(app.dir + "/out/r" + std::to_string(r) + "j" + std::to_string(i) + ".prn"));
            EXPECT_TRUE(d.ok) << Joined(d.report.problems);
            EXPECT_EQ(d.pages.size(), i % 5 == 0 ? 2u : 1u);
        }
    }
}
} // namespace

TEST(AppFaults, HostileClientsLeaveTheServerUpAndEveryJobEnded)
{
    AppServer app;
    app.options = {"job-timeout=" + std::to_string(kJobTimeout), "document-timeout=" + std::to_string(kDocumentTimeout)};
    std::string why;
    ASSERT_TRUE(StartAppServer(&app, &why)) << why;
    Documents docs(app.dir);

    // Formats no filter prints are refused before the document is taken.
    const struct {
        const char* what;
        std::string doc, format;
    } refused[] = {{"text", "Hello\n", "text/plain"},
                   {"GIF", "GIF89a\x01\0\x01\0", "image/gif"},
                   {"text sent as bytes", "Hello\n", "application/octet-stream"},
                   {"PostScript as a vendor format", kPsLoop, "application/vnd.example"}};
    for (const auto& c : refused)
        EXPECT_EQ(SendJob(app.port, c.doc, c.format, c.what).status, IPP_STATUS_ERROR_DOCUMENT_FORMAT_NOT_SUPPORTED)
            << c.what;

    // Damaged documents end with the reason; recognised ones print.
    const struct {
        const char* what;
        std::string doc, format, state, reason;
    } hostile[] = {
        {"cut PNG", CutShort(docs.png, 0.5), "image/png", "aborted", "PNG image could not be read"},
        {"PNG of 100000 x 100000", PngClaiming(100000, 100000), "image/png", "aborted", "100000 x 100000 pixels"},
        {"cut JPEG", CutShort(docs.jpeg, 0.6), "image/jpeg", "aborted", "damaged or cut off"},
        {"PWG page of width 0", WithBigEndian(docs.pwg, 376, 0), "image/pwg-raster", "aborted", "raster document"},
        {"cut PWG", CutShort(docs.pwg, 0.99), "image/pwg-raster", "aborted", "ends inside page 2"},
        {"URF page of width 0", WithBigEndian(docs.urf, 24, 0), "image/urf", "aborted", "raster document"},
        {"PWG page at 0 dpi", WithBigEndian(WithBigEndian(docs.pwg, 280, 0), 284, 0), "image/pwg-raster", "aborted",
         "resolution of 0 x 0 dpi"},
        {"PWG page at 100000 dpi", WithBigEndian(docs.pwg, 280, 100000), "image/pwg-raster", "aborted",
         "resolution of 100000 x 600 dpi"},
        {"PostScript loop sent as PDF", kPsLoop, "application/pdf", "aborted", "not a PDF file"},
        {"PDF sent as bytes", docs.pdf, "application/octet-stream", "completed", ""},
        {"PWG sent as bytes", docs.pwg, "application/octet-stream", "completed", ""},
        {"PostScript", "%!PS\n72 72 moveto 500 500 lineto stroke showpage\n", "application/postscript", "completed",
         ""},
    };
    for (const auto& c : hostile) {
        SCOPED_TRACE(c.what);
        SentJob sent = SendJob(app.port, c.doc, c.format, c.what, {std::string("media=") + kA6});
        ASSERT_EQ(sent.status, IPP_STATUS_OK);
        EndedJob end = WaitForJobEnd(app.port, sent.id, kJobEnd);
        EXPECT_EQ(end.state, c.state) << end.message;
        EXPECT_NE(end.message.find(c.reason), std::string::npos) << end.message;
    }

    // A client trickling its raster document is cut off at the time limit,
    // and clients hang up halfway through theirs (which PAPPL gives up on
    // while the state is saved); the jobs of 5 rounds of 30 clients queue
    // and print meanwhile.
    const int hangUps = 20;
    std::thread trickler([&] { TrickleJob(app.port, docs.pwg, "image/pwg-raster", "trickle", 200, 120); });
    std::thread hangingUp([&] {
        for (int i = 0; i < hangUps; ++i)
            TrickleJob(app.port, docs.pwg, "image/pwg-raster", "hang-up " + std::to_string(i), 5, 2, true);
    });
    PrintRounds(app, docs, 5, 30);
    trickler.join();
    hangingUp.join();
    EndedJob trickled = WaitForJobEnd(app.port, JobIdByName(app.port, "trickle"), kJobEnd);
    EXPECT_EQ(trickled.state, "aborted");
    EXPECT_NE(trickled.message.find("did not arrive within"), std::string::npos) << trickled.message;
    int hungUp = 0; // a job exists once the server read its request
    for (int i = 0; i < hangUps; ++i)
        if (int id = JobIdByName(app.port, "hang-up " + std::to_string(i))) {
            EXPECT_EQ(WaitForJobEnd(app.port, id, kJobEnd).state, "aborted") << i;
            ++hungUp;
        }
    EXPECT_GT(hungUp, 0);

    // A PostScript loop: cancelled, it ends at once; left alone, at the
    // job's time limit; neither leaves Ghostscript running.
    SentJob loop = SendJob(app.port, std::string("%!\n") + kPsLoop, "application/postscript", "loop");
    ASSERT_TRUE(WaitForJobState(app.port, loop.id, "processing", kJobEnd));
    ASSERT_TRUE(CancelJob(app.port, loop.id));
    EXPECT_EQ(WaitForJobEnd(app.port, loop.id, 10).state, "canceled");
    loop = SendJob(app.port, std::string("%!\n") + kPsLoop, "application/postscript", "loop again");
    EndedJob timedOut = WaitForJobEnd(app.port, loop.id, kJobTimeout + kJobEnd);
    EXPECT_EQ(timedOut.state, "aborted");
    EXPECT_NE(timedOut.message.find("took longer than"), std::string::npos) << timedOut.message;
    EXPECT_EQ(ServerChildren(app), "");

    EXPECT_TRUE(PrinterAnswers(app.port));
    EXPECT_EQ(LogOf(app).find("work-around for its faults is off"), std::string::npos);
    // SIGTERM with a job printing: the server stops within seconds, and
    // nothing it started is left.
    SendJob(app.port, std::string("%!\n") + kPsLoop, "application/postscript", "loop at the end");
    EXPECT_EQ(StopAppServer(&app, kStop), 0) << LogOf(app);
    EXPECT_TRUE(AppProcessesLeft(app).empty());
}

TEST(AppFaults, NothingInTheSavedStateKeepsTheServerFromStarting)
{
    AppServer app;
    std::string why;
    ASSERT_TRUE(StartAppServer(&app, &why)) << why;
    ASSERT_EQ(StopAppServer(&app, kStop), 0);
    // Jobs PAPPL cannot print or that were printing when the app went, and
    // lines it cannot read without a value.
    const std::string spool = app.dir + "/spool/p00001j0000000";
    const char ippHeader[] = "\x02\0\0\0\0\0\0\0\x03";
    const struct {
        const char *id, *format, *state, *document;
    } jobs[] = {{"90", "text/plain", "3", "Hello\n"}, {"91", "application/pdf", "5", nullptr}};
    std::string added;
    for (const auto& j : jobs) {
        std::string file = spool + j.id + "-x.doc";
        WriteFile(file, j.document ? j.document : Sample("text.pdf"));
        WriteFile(spool + j.id + "-x.ipp", std::string(ippHeader, sizeof ippHeader - 1));
        added += std::string("Job id=\"") + j.id + "\" name=\"x\" username=\"u\" format=\"" + j.format +
                 "\" filename=\"" + file + "\" state=\"" + j.state + "\"\n";
    }
    added += "Job id=\"92\" name=\"no user\"\nprint-color-mode-default\nsides-default\n";
    std::string statePath = app.dir + "/state/quorin-printer-app.state";
    std::string state = ReadFile(statePath);
    ASSERT_NE(state.find("</Printer>"), std::string::npos);
    WriteFile(statePath, state.insert(state.find("</Printer>"), added));

    ASSERT_TRUE(RestartAppServer(&app, &why)) << why;
    EndedJob unprintable = WaitForJobEnd(app.port, 90, kJobEnd), interrupted = WaitForJobEnd(app.port, 91, kJobEnd);
    EXPECT_EQ(unprintable.state, "aborted");
    EXPECT_NE(unprintable.message.find("none of the formats"), std::string::npos) << unprintable.message;
    EXPECT_EQ(interrupted.state, "completed") << interrupted.message;
    EXPECT_EQ(WaitForJobEnd(app.port, SendJob(app.port, Sample("text.pdf"), "application/pdf", "new").id, kJobEnd).state,
              "completed");
    EXPECT_EQ(StopAppServer(&app, kStop), 0) << LogOf(app);
}

TEST(AppFaults, GoesOnWithoutDnsSd)
{
    AppServer app;
    std::string why;
    ASSERT_TRUE(StartAppServer(&app, &why)) << why;
    // Without avahi-daemon (as on the test machines) these listed
    // DNS-SD printers through a null avahi client.
    ProcessResult devices = RunApp(app, {"devices"});
    EXPECT_EQ(devices.status, 0) << devices.err;
    EXPECT_NE(WebPage(app, "/addprinter"), "");
    EXPECT_TRUE(PrinterAnswers(app.port));
}

TEST(AppFaults, SubcommandsStopTheServerTheyStartedAndTheSocketIsPrivate)
{
    AppServer app;
    std::string why;
    ASSERT_TRUE(StartAppServer(&app, &why)) << why;
    struct stat socket;
    ASSERT_EQ(stat((app.dir + "/state/quorin-printer-app.sock").c_str(), &socket), 0);
    EXPECT_EQ(socket.st_mode & 077, 0u);

    AppServer idle; // no server runs for its state
    idle.dir = MakeTempDir("idle");
    mkdir((idle.dir + "/state").c_str(), 0700);
    ProcessResult printers = RunApp(idle, {"printers"});
    EXPECT_EQ(printers.status, 0) << printers.err;
    EXPECT_TRUE(AppProcessesLeft(idle, kStop).empty()) << "a sub-command's server is left";
}

TEST(AppFaults, NothingItStartedOutlivesAKilledServer)
{
    AppServer app;
    std::string why;
    ASSERT_TRUE(StartAppServer(&app, &why)) << why;
    SentJob loop = SendJob(app.port, std::string("%!\n") + kPsLoop, "application/postscript", "loop");
    ASSERT_TRUE(WaitForJobState(app.port, loop.id, "processing", kJobEnd));
    for (int i = 0; i < kJobEnd * 10 && ServerChildren(app).empty(); ++i) // Ghostscript is started
        usleep(100 * 1000);
    ASSERT_NE(ServerChildren(app), "");
    kill(app.pid, SIGKILL);
    EXPECT_TRUE(AppProcessesLeft(app, kStop).empty()) << "Ghostscript or the filter outlived the server";
}

TEST(AppFaults, OnlyTheAdministratorAdministers)
{
    AppServer app;
    std::string why;
    ASSERT_TRUE(StartAppServer(&app, &why)) << why;
    const std::string out = app.dir + "/out";
    EXPECT_EQ(ReadFile(app.dir + "/app.log").find("PAPPL has no"), std::string::npos); // a work-around is off
    auto createPrinter = [&](const std::string& name, const std::string& device) {
        ipp_t* r = NewRequest(app.port, IPP_OP_CREATE_PRINTER, true);
        ippAddString(r, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "printer-service-type", nullptr, "print");
        ippAddString(r, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "smi55357-driver", nullptr, "quorin");
        ippAddString(r, IPP_TAG_OPERATION, IPP_TAG_URI, "smi55357-device-uri", nullptr, device.c_str());
        ippAddString(r, IPP_TAG_PRINTER, IPP_TAG_NAME, "printer-name", nullptr, name.c_str());
        return StatusOf(app.port, r, true);
    };
    auto withPrinterId = [&](ipp_op_t op) {
        ipp_t* r = NewRequest(app.port, op, true);
        ippAddInteger(r, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "printer-id", 1);
        return StatusOf(app.port, r, true);
    };
    auto setLocation = [&] {
        ipp_t* r = NewRequest(app.port, IPP_OP_SET_PRINTER_ATTRIBUTES);
        ippAddString(r, IPP_TAG_PRINTER, IPP_TAG_TEXT, "printer-location", nullptr, "here");
        return StatusOf(app.port, r);
    };
    // Another local user, over loopback: no administration, on IPP or the
    // web pages that change anything; printing as before.
    const struct {
        const char* what;
        std::function<ipp_status_t()> send;
    } admin[] = {
        {"Create-Printer", [&] { return createPrinter("mine", "file://" + out); }},
        {"Delete-Printer", [&] { return withPrinterId(IPP_OP_DELETE_PRINTER); }},
        {"Set-Printer-Attributes", setLocation},
        {"Pause-Printer", [&] { return StatusOf(app.port, NewRequest(app.port, IPP_OP_PAUSE_PRINTER)); }},
        {"Shutdown-All-Printers",
         [&] { return StatusOf(app.port, NewRequest(app.port, IPP_OP_SHUTDOWN_ALL_PRINTERS, true), true); }},
    };
    const uid_t nobody = 65534;
    for (const auto& a : admin)
        EXPECT_TRUE(AsUser(nobody, nobody, [&] { return a.send() == IPP_STATUS_ERROR_FORBIDDEN; })) << a.what;
    for (const char* page : {"/Quorin/printing", "/Quorin/delete", "/addprinter"}) {
        EXPECT_TRUE(AsUser(nobody, nobody, [&] { return WebPage(app, page).empty(); })) << page;
        EXPECT_NE(WebPage(app, page), "") << page; // root's
    }
    EXPECT_TRUE(AsUser(nobody, nobody, [&] {
        return WaitForJobEnd(app.port, SendJob(app.port, "%!PS\nshowpage\n", "application/postscript", "x").id, 180)
                   .state == "completed";
    }));
    EXPECT_EQ(setLocation(), IPP_STATUS_OK);
    EXPECT_NE(ReadFile(app.dir + "/app.log").find("local user nobody is not the administrator"), std::string::npos);

    // file: devices only inside the folder the administrator named.
    ASSERT_EQ(mkdir((out + "/sub").c_str(), 0755), 0);
    const struct {
        std::string device;
        ipp_status_t status;
    } devices[] = {{"file:///etc", IPP_STATUS_ERROR_ATTRIBUTES_OR_VALUES},
                   {"file:///dev/null", IPP_STATUS_ERROR_ATTRIBUTES_OR_VALUES},
                   {"file://" + out + "/../state", IPP_STATUS_ERROR_ATTRIBUTES_OR_VALUES},
                   {"file://" + out + "/sub", IPP_STATUS_OK},
                   {"socket://127.0.0.1:9", IPP_STATUS_OK}};
    int n = 0;
    for (const auto& d : devices)
        EXPECT_EQ(createPrinter("p" + std::to_string(++n), d.device), d.status) << d.device;
    // Nor through a link planted there: the job waits for its device.
    const std::string victim = app.dir + "/victim";
    ASSERT_EQ(symlink(victim.c_str(), (out + "/planted.prn").c_str()), 0);
    SentJob planted = SendJob(app.port, "%!PS\nshowpage\n", "application/postscript", "planted");
    for (int i = 0; i < 600 && ReadFile(app.dir + "/app.log").find("planted.prn") == std::string::npos; ++i)
        usleep(100 * 1000);
    EXPECT_TRUE(CancelJob(app.port, planted.id));
    EXPECT_EQ(WaitForJobEnd(app.port, planted.id, kJobEnd).state, "canceled");
    EXPECT_NE(access(victim.c_str(), F_OK), 0);
    EXPECT_EQ(withPrinterId(IPP_OP_DELETE_PRINTER), IPP_STATUS_OK);
}
