#include "ipp_client.h"

#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
const char kResource[] = "/ipp/print/Quorin";
const char kSystem[] = "/ipp/system";

http_t* Connect(int port)
{
    return httpConnect2("127.0.0.1", port, nullptr, AF_INET, HTTP_ENCRYPTION_NEVER, 1, 30000, nullptr);
}

ipp_t* Request(int port, ipp_op_t op, int jobId = 0, bool system = false)
{
    ipp_t* request = ippNewRequest(op);
    std::string uri = "ipp://127.0.0.1:" + std::to_string(port) + (system ? kSystem : kResource);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, system ? "system-uri" : "printer-uri", nullptr, uri.c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "tester");
    if (jobId)
        ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", jobId);
    return request;
}

// The response to a request without a document; NULL when none came.
ipp_t* Ask(int port, ipp_t* request)
{
    http_t* http = Connect(port);
    ipp_t* response = http ? cupsDoRequest(http, request, kResource) : (ippDelete(request), nullptr);
    httpClose(http);
    return response;
}

std::string JobState(int port, int jobId, std::string* message)
{
    ipp_t* response = Ask(port, Request(port, IPP_OP_GET_JOB_ATTRIBUTES, jobId));
    ipp_attribute_t* state = ippFindAttribute(response, "job-state", IPP_TAG_ENUM);
    std::string keyword = state ? ippEnumString("job-state", ippGetInteger(state, 0)) : "";
    if (message)
        *message = ippGetString(ippFindAttribute(response, "job-state-message", IPP_TAG_TEXT), 0, nullptr) ?: "";
    ippDelete(response);
    return keyword;
}
} // namespace

SentJob SendJob(int port, const std::string& document, const std::string& format, const std::string& jobName,
                const std::vector<std::string>& attrs)
{
    SentJob sent;
    ipp_t* request = Request(port, IPP_OP_PRINT_JOB);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr, format.c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, jobName.c_str());
    for (const std::string& a : attrs) {
        std::string name = a.substr(0, a.find('=')), value = a.substr(a.find('=') + 1);
        if (value.find_first_not_of("0123456789") == std::string::npos)
            ippAddInteger(request, IPP_TAG_JOB, IPP_TAG_INTEGER, name.c_str(), atoi(value.c_str()));
        else
            ippAddString(request, IPP_TAG_JOB, IPP_TAG_KEYWORD, name.c_str(), nullptr, value.c_str());
    }
    http_t* http = Connect(port);
    // A server that refuses the job may answer before it has the document.
    if (http && cupsSendRequest(http, request, kResource, CUPS_LENGTH_VARIABLE) == HTTP_STATUS_CONTINUE) {
        cupsWriteRequestData(http, document.data(), document.size());
        ipp_t* response = cupsGetResponse(http, kResource);
        sent.status = ippGetStatusCode(response);
        sent.id = ippGetInteger(ippFindAttribute(response, "job-id", IPP_TAG_INTEGER), 0);
        ippDelete(response);
    }
    ippDelete(request);
    httpClose(http);
    return sent;
}

EndedJob WaitForJobEnd(int port, int jobId, int seconds)
{
    EndedJob end;
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < until) {
        std::string state = JobState(port, jobId, &end.message);
        if (state == "canceled" || state == "aborted" || state == "completed") {
            end.state = state;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return end;
}

bool WaitForJobState(int port, int jobId, const char* state, int seconds)
{
    for (int i = 0; i < seconds * 10; ++i) {
        if (JobState(port, jobId, nullptr) == state)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

bool CancelJob(int port, int jobId)
{
    ipp_t* response = Ask(port, Request(port, IPP_OP_CANCEL_JOB, jobId));
    bool ok = response && ippGetStatusCode(response) == IPP_STATUS_OK;
    ippDelete(response);
    return ok;
}

bool PrinterAnswers(int port)
{
    ipp_t* response = Ask(port, Request(port, IPP_OP_GET_PRINTER_ATTRIBUTES));
    bool ok = response && ippGetStatusCode(response) == IPP_STATUS_OK;
    ippDelete(response);
    return ok;
}

void TrickleJob(int port, const std::string& document, const std::string& format, const std::string& jobName,
                int gapMs, int seconds, bool hangUp)
{
    ipp_t* request = Request(port, IPP_OP_PRINT_JOB);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr, format.c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, jobName.c_str());
    std::string body(ippLength(request), '\0');
    ippSetState(request, IPP_STATE_IDLE);
    struct Sink {
        std::string* out;
        size_t at;
    } sink = {&body, 0};
    ippWriteIO(&sink, [](void* ctx, ipp_uchar_t* data, size_t len) -> ssize_t {
        Sink* s = static_cast<Sink*>(ctx);
        memcpy(&(*s->out)[s->at], data, len);
        s->at += len;
        return (ssize_t)len;
    }, 1, nullptr, request);
    ippDelete(request);

    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons((uint16_t)port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string head = "POST /ipp/print/Quorin HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/ipp\r\n"
                       "Content-Length: " + std::to_string(body.size() + document.size()) + "\r\n\r\n" + body;
    bool sending = connect(fd, (sockaddr*)&addr, sizeof addr) == 0 &&
                   send(fd, head.data(), head.size(), MSG_NOSIGNAL) == (ssize_t)head.size();
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (size_t i = 0; sending && i < document.size() && std::chrono::steady_clock::now() < until; ++i) {
        sending = send(fd, &document[i], 1, MSG_NOSIGNAL) == 1;
        std::this_thread::sleep_for(std::chrono::milliseconds(gapMs));
    }
    linger reset = {1, 0};
    if (hangUp)
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    else
        recv(fd, &head[0], head.size(), 0); // the answer, or the end
    close(fd);
}

int JobIdByName(int port, const std::string& name)
{
    ipp_t* request = Request(port, IPP_OP_GET_JOBS);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "all");
    static const char* const wanted[] = {"job-id", "job-name"};
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 2, nullptr, wanted);
    ipp_t* response = Ask(port, request);
    int id = 0, groupId = 0;
    bool named = false;
    // Each job is a group of its own; a nameless attribute separates them.
    for (ipp_attribute_t* a = ippFirstAttribute(response);; a = ippNextAttribute(response)) {
        const char* n = a ? ippGetName(a) : nullptr;
        if (!n) {
            if (named)
                id = groupId;
            named = false;
            if (!a)
                break;
        } else if (!strcmp(n, "job-id")) {
            groupId = ippGetInteger(a, 0);
        } else if (!strcmp(n, "job-name")) {
            named = name == (ippGetString(a, 0, nullptr) ?: "");
        }
    }
    ippDelete(response);
    return id;
}

ipp_t* NewRequest(int port, ipp_op_t op, bool system)
{
    return Request(port, op, 0, system);
}

ipp_status_t StatusOf(int port, ipp_t* request, bool system)
{
    http_t* http = Connect(port);
    if (!http) {
        ippDelete(request);
        return IPP_STATUS_ERROR_SERVICE_UNAVAILABLE;
    }
    ippDelete(cupsDoRequest(http, request, system ? kSystem : kResource));
    httpClose(http);
    return cupsLastError();
}

int PrinterInteger(int port, const char* name)
{
    ipp_t* request = Request(port, IPP_OP_GET_PRINTER_ATTRIBUTES);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, name);
    ipp_t* response = Ask(port, request);
    ipp_attribute_t* attr = ippFindAttribute(response, name, IPP_TAG_INTEGER);
    int value = attr ? ippGetInteger(attr, 0) : -1;
    ippDelete(response);
    return value;
}

bool AsUser(uid_t uid, gid_t gid, const std::function<bool()>& fn)
{
    pid_t pid = fork();
    if (pid == 0) {
        bool became = setgroups(0, nullptr) == 0 && setgid(gid) == 0 && setuid(uid) == 0;
        _exit(became && fn() ? 0 : 1);
    }
    int status = -1;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
