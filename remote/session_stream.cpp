#include "remote/session_stream.h"

#include <unistd.h>

#include <chrono>
#include <cstdint>

namespace {

using Clock = std::chrono::steady_clock;

// A wait of ms from now, or none for a negative ms.
template <typename Predicate>
bool WaitUntil(std::condition_variable& changed, std::unique_lock<std::mutex>& hold, long long ms,
               Predicate ready) {
    if (ms < 0) {
        changed.wait(hold, ready);
        return true;
    }
    return changed.wait_until(hold, Clock::now() + std::chrono::milliseconds(ms), ready);
}

void* AsTag(intptr_t tag) {
    return reinterpret_cast<void*>(tag);
}

}  // namespace

SessionStream::SessionStream(const Connection& connection, int wakeFd)
    : m_connection(connection),
      m_stub(pelk::v1::Board::NewStub(connection.channel)),
      m_wake_fd(wakeFd) {}

std::unique_ptr<SessionStream> SessionStream::Start(const Connection& connection, int wakeFd) {
    std::unique_ptr<SessionStream> stream(new SessionStream(connection, wakeFd));
    PrepareCall(&stream->m_context, -1);
    stream->m_call = stream->m_stub->PrepareAsyncSession(&stream->m_context, &stream->m_queue);
    stream->m_call->StartCall(AsTag(kStarted));
    stream->m_thread = std::thread([raw = stream.get()] { raw->Run(); });
    return stream;
}

SessionStream::~SessionStream() {
    Close();
}

void SessionStream::Run() {
    void* tag;
    bool ok;
    while (m_queue.Next(&tag, &ok)) {
        std::lock_guard<std::mutex> hold(m_lock);
        Completed(static_cast<Tag>(reinterpret_cast<intptr_t>(tag)), ok);
    }
}

void SessionStream::Completed(Tag tag, bool ok) {
    switch (tag) {
        case kStarted:
            if (!ok) {
                m_reading = false;
                m_call->Finish(&m_status, AsTag(kFinished));
                return;
            }
            m_started = true;
            m_call->Read(&m_event, AsTag(kRead));
            StartWrite();
            return;
        case kRead:
            if (!ok) {
                m_reading = false;
                m_call->Finish(&m_status, AsTag(kFinished));
                return;
            }
            Received();
            m_event.Clear();
            m_call->Read(&m_event, AsTag(kRead));
            return;
        case kWritten:
            m_writing = false;
            m_writes.pop_front();
            if (ok) {
                StartWrite();
            }
            return;
        case kFinished:
            if (m_end_reason.empty()) {
                m_end_reason = m_status.ok()
                                   ? "pelkd at " + m_connection.target + " ended the session"
                                   : DescribeFailure(m_status, m_connection.target);
            }
            m_done = true;
            m_reading = false;
            UpdateWake();
            m_changed.notify_all();
            m_queue.Shutdown();
            return;
    }
}

void SessionStream::Received() {
    if (m_event.has_reply()) {
        auto waiting = m_waiting.find(m_event.reply().id());
        if (waiting != m_waiting.end()) {
            waiting->second.reply.Swap(m_event.mutable_reply());
            waiting->second.arrived = true;
            m_changed.notify_all();
        }
    } else if (m_event.has_message()) {
        m_messages.push_back(std::make_unique<pelk::v1::Message>());
        m_messages.back()->Swap(m_event.mutable_message());
        UpdateWake();
        m_changed.notify_all();
    }
}

void SessionStream::QueueWrite(std::unique_ptr<pelk::v1::SessionRequest> request) {
    m_writes.push_back(std::move(request));
    StartWrite();
}

void SessionStream::StartWrite() {
    if (m_started && m_reading && !m_writing && !m_writes.empty()) {
        m_writing = true;
        m_call->Write(*m_writes.front(), AsTag(kWritten));
    }
}

bool SessionStream::Call(pelk::v1::SessionRequest request, long long deadlineMs,
                         pelk::v1::Reply* reply, std::string* problem) {
    std::unique_lock<std::mutex> hold(m_lock);
    if (!m_reading) {
        *problem = m_end_reason.empty() ? "the connection to pelkd has ended" : m_end_reason;
        return false;
    }
    const uint64_t id = m_next_id++;
    request.set_id(id);
    Waiting& waiting = m_waiting[id];
    QueueWrite(std::make_unique<pelk::v1::SessionRequest>(std::move(request)));
    const bool answered =
        WaitUntil(m_changed, hold, deadlineMs, [&] { return waiting.arrived || m_done; });
    if (waiting.arrived) {
        reply->Swap(&waiting.reply);
        m_waiting.erase(id);
        return true;
    }
    m_waiting.erase(id);
    if (!answered) {
        m_end_reason = "pelkd at " + m_connection.target + " did not answer within " +
                       std::to_string(deadlineMs) + " ms";
        m_context.TryCancel();
    }
    *problem = m_end_reason;
    return false;
}

SessionStream::Wait SessionStream::WaitForMessage(long long timeoutMs) {
    std::unique_lock<std::mutex> hold(m_lock);
    WaitUntil(m_changed, hold, timeoutMs, [&] { return !m_messages.empty() || m_done; });
    if (!m_messages.empty()) {
        return Wait::Message;
    }
    return m_done ? Wait::Ended : Wait::TimedOut;
}

std::unique_ptr<pelk::v1::Message> SessionStream::TakeMessage() {
    std::lock_guard<std::mutex> hold(m_lock);
    if (m_messages.empty()) {
        return nullptr;
    }
    std::unique_ptr<pelk::v1::Message> message = std::move(m_messages.front());
    m_messages.pop_front();
    UpdateWake();
    m_consumed += MessageCreditBytes(*message);
    if (m_consumed >= kCreditWindow / 2 && m_reading) {
        auto credit = std::make_unique<pelk::v1::SessionRequest>();
        credit->mutable_credit()->set_bytes(m_consumed);
        m_consumed = 0;
        QueueWrite(std::move(credit));
    }
    return message;
}

std::string SessionStream::EndReason() {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_done ? m_end_reason : std::string();
}

void SessionStream::Close() {
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_wake_fd = -1;
        if (!m_done) {
            if (m_end_reason.empty()) {
                m_end_reason = "the object was closed";
            }
            m_context.TryCancel();
        }
    }
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void SessionStream::UpdateWake() {
    const bool wanted = !m_messages.empty() || m_done;
    if (m_wake_fd < 0 || wanted == m_wake_signalled) {
        return;
    }
    uint64_t count = 1;
    const ssize_t done =
        wanted ? write(m_wake_fd, &count, sizeof count) : read(m_wake_fd, &count, sizeof count);
    if (done == static_cast<ssize_t>(sizeof count)) {
        m_wake_signalled = wanted;
    }
}
