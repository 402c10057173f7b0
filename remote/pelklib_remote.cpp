// cPelkLib_Remote: object lifetime, Open with the connection to pelkd, and
// the one path of every request.
#include "remote/pelklib_remote.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "protocol/pelk_protocol.h"
#include "remote/connection.h"
#include "remote/session_stream.h"
#include "services/driver_names.h"
#include "services/pelk_log.h"
#include "services/standard_descriptors.h"
#include "services/statuses.h"

namespace {

// A non-blocking, close-on-exec eventfd at 3 or above; -1 with errno.
int NewWakeDescriptor() {
    return KeepOffStandardDescriptors(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
}

void DrainWake(int fd) {
    uint64_t count;
    while (read(fd, &count, sizeof count) > 0) {}
}

}  // namespace

cPelkLib_Remote::cPelkLib_Remote(const char* target, PELKLIB_DRIVER_TYPE type, unsigned int board)
    : m_target(target), m_type(type), m_board(board), m_pid(getpid()) {}

cPelkLib_Remote::~cPelkLib_Remote() {
    if (getpid() != m_pid) {
        // A copy left in a child after fork: the connection and gRPC's
        // threads are the parent's, so nothing of them is touched here.
        static_cast<void>(m_session.release());
    } else {
        CloseSession();
    }
    if (m_wake_fd >= 0) {
        close(m_wake_fd);
    }
}

std::string cPelkLib_Remote::Description() const {
    return std::string(DriverName(m_type)) + " via " + m_target;
}

void cPelkLib_Remote::CloseSession() {
    if (m_session != nullptr) {
        m_session->Close();
        m_session.reset();
    }
    if (m_wake_fd >= 0) {
        DrainWake(m_wake_fd);
    }
    m_current.reset();
    m_receive_failed = 0;
    m_end_reported = false;
}

// A second Open starts afresh: the first connection is closed first.
int cPelkLib_Remote::Open(unsigned int size, int* waitHandle) {
    CloseSession();
    if (size > kMaxMessageData) {
        PelkLog("Open: a header of up to %u bytes is more than the %u a remote object takes\n",
                size, kMaxMessageData);
        return PKERR_NO_MEMORY;
    }
    if (m_wake_fd < 0) {
        m_wake_fd = NewWakeDescriptor();
        if (m_wake_fd < 0) {
            const int error = errno;
            PelkLog("Open: eventfd failed, errno %d: %s\n", error, strerror(error));
            return error;
        }
    }
    Connection connection;
    std::string problem;
    if (!Connect(m_target.c_str(), &connection, &problem)) {
        PelkLog("Open: %s\n", problem.c_str());
        return PKERR_NOT_OPEN;
    }
    std::unique_ptr<SessionStream> session = SessionStream::Start(connection, m_wake_fd);
    pelk::v1::SessionRequest request;
    pelk::v1::Open* open = request.mutable_open();
    open->set_driver_type(m_type);
    open->set_board(m_board);
    open->set_size(size);
    open->set_credit(SessionStream::kCreditWindow);
    pelk::v1::Reply reply;
    const bool answered = session->Call(std::move(request), kCallMs, &reply, &problem);
    if (!answered || reply.status() != PKERR_OK) {
        session->Close();
        DrainWake(m_wake_fd);
        if (!answered) {
            PelkLog("Open: %s\n", problem.c_str());
        }
        return answered ? reply.status() : PKERR_NOT_OPEN;
    }
    m_session = std::move(session);
    m_size = size;
    if (waitHandle != nullptr) {
        *waitHandle = m_wake_fd;
    }
    return PKERR_OK;
}

void cPelkLib_Remote::ReportEnd(const char* operation, const std::string& reason) {
    if (!m_end_reported) {
        m_end_reported = true;
        PelkLog("%s: %s; Open the object again\n", operation, reason.c_str());
    }
}

bool cPelkLib_Remote::Perform(const char* operation, pelk::v1::SessionRequest& request,
                              long long deadlineMs, pelk::v1::Reply* reply) {
    if (m_session == nullptr) {
        return false;
    }
    std::string problem;
    if (!m_session->Call(std::move(request), deadlineMs, reply, &problem)) {
        ReportEnd(operation, problem);
        return false;
    }
    return true;
}

int cPelkLib_Remote::StatusOf(const char* operation, pelk::v1::SessionRequest& request) {
    pelk::v1::Reply reply;
    return Perform(operation, request, kCallMs, &reply) ? reply.status() : PKERR_NOT_OPEN;
}

int cPelkLib_Remote::GetWaitHandle() {
    return m_wake_fd;
}

void cPelkLib_Remote::GetErrorText(int code, char* text, unsigned int size) {
    PelkStatusText(code, text, size);
}
