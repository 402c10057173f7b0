#include "tools/pelkd/board_session.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <vector>

namespace {

constexpr unsigned int kMappingLen = sizeof(PK_BOARD_MAPPING);
constexpr unsigned int kStatsLen = sizeof(PK_GET_DRVR_STATS);

// A zeroed area of at least bytes bytes, aligned for the records.
class Area {
public:
    explicit Area(size_t bytes) : m_words((bytes + 3) / 4) {}
    char* Bytes() { return reinterpret_cast<char*>(m_words.data()); }
    template <typename Record>
    Record* As() {
        return reinterpret_cast<Record*>(m_words.data());
    }

private:
    std::vector<uint32_t> m_words;
};

// A caller's area larger than a message may carry is not made here.
bool TooLarge(uint64_t bytes) {
    return bytes > kMaxMessageData;
}

// The statuses after which a message has arrived.
bool Arrived(int status) {
    return status == PKERR_OK || status == PKERR_DATA_LOST || status == PKERR_WRONG_BUFSIZE;
}

// A failed receive after which the object receives on (a message the board
// got wrong); any other leaves it unable to receive.
bool ReceivesOn(int status) {
    return status == PKERR_NO_MESSAGE || status == PKERR_BAD_MESSAGE;
}

void Deliver(pelk::v1::Reply* reply, int status, const char* bytes, size_t length) {
    if (status == PKERR_OK && length > 0) {
        reply->set_data(bytes, length);
    }
}

grpc::Status Refuse(const std::string& text) {
    return grpc::Status(grpc::StatusCode::INVALID_ARGUMENT, text);
}

}  // namespace

BoardSession::BoardSession(SessionStreamIO* stream, std::string client, bool verbose)
    : m_stream(stream),
      m_client(std::move(client)),
      m_verbose(verbose),
      m_object(nullptr, deletePelkLib) {}

BoardSession::~BoardSession() {
    StopPushing();
    if (m_stop_fd >= 0) {
        close(m_stop_fd);
    }
}

bool BoardSession::Read(pelk::v1::SessionRequest* request, grpc::Status* refusal) {
    grpc::ByteBuffer bytes;
    if (!m_stream->Read(&bytes)) {
        return false;
    }
    ++m_requests;
    if (!grpc::SerializationTraits<pelk::v1::SessionRequest>::Deserialize(&bytes, request).ok()) {
        *refusal = Refuse("request " + std::to_string(m_requests) +
                          " of the session is no pelk.v1.SessionRequest");
        return false;
    }
    return true;
}

grpc::Status BoardSession::Run() {
    pelk::v1::SessionRequest request;
    grpc::Status status;
    if (!Read(&request, &status)) {
        return status;
    }
    status = OpenObject(request);
    if (!status.ok() || m_object == nullptr) {
        return status;
    }
    while (status.ok() && Read(&request, &status)) {
        status = Serve(request);
    }
    if (m_verbose) {
        std::fprintf(stderr, "pelkd: %s closed its session\n", m_client.c_str());
    }
    return status;
}

grpc::Status BoardSession::OpenObject(const pelk::v1::SessionRequest& request) {
    if (!request.has_open()) {
        return Refuse("the first request of a session opens its board (Open)");
    }
    const pelk::v1::Open& open = request.open();
    const uint32_t type = open.driver_type();
    if (type != PELKLIB_DRIVER_ZB5T && type != PELKLIB_DRIVER_ZBHOST) {
        return Refuse("driver type " + std::to_string(type) +
                      " has no backend: 2 (zb5t) or 3 (zbhost)");
    }
    pelk::v1::Reply reply;
    if (TooLarge(open.size())) {
        Answer(request.id(), PKERR_NO_MEMORY, &reply);
        return grpc::Status::OK;
    }
    m_stop_fd = eventfd(0, EFD_CLOEXEC);
    std::unique_ptr<cPelkLib, void (*)(cPelkLib*)> object(
        NewPelkLibByType(static_cast<PELKLIB_DRIVER_TYPE>(type)), deletePelkLib);
    const int status = m_stop_fd < 0 ? errno : object->Open(open.size(), nullptr);
    if (m_verbose) {
        std::fprintf(stderr, "pelkd: %s opened %s board %u: status %d\n", m_client.c_str(),
                     type == PELKLIB_DRIVER_ZB5T ? "zb5t" : "zbhost", open.board(), status);
    }
    if (status == PKERR_OK) {
        m_object = std::move(object);
        m_header_room = type == PELKLIB_DRIVER_ZBHOST
                            ? PK_MAX_HEADER_LEN
                            : std::max<unsigned int>(open.size(), PK_MAX_HEADER_LEN);
        m_credit = static_cast<int64_t>(std::min<uint64_t>(open.credit(), INT32_MAX));
        m_pusher = std::thread([this] { PushMessages(); });
    }
    Answer(request.id(), status, &reply);
    return grpc::Status::OK;
}

void BoardSession::Answer(uint64_t id, int status, pelk::v1::Reply* reply) {
    reply->set_id(id);
    reply->set_status(status);
    pelk::v1::SessionEvent event;
    event.mutable_reply()->Swap(reply);
    Write(event);
}

bool BoardSession::Write(const pelk::v1::SessionEvent& event) {
    grpc::ByteBuffer bytes;
    bool owned;
    if (!grpc::SerializationTraits<pelk::v1::SessionEvent>::Serialize(event, &bytes, &owned).ok()) {
        return false;
    }
    std::lock_guard<std::mutex> hold(m_write_lock);
    return m_stream->Write(bytes);
}

grpc::Status BoardSession::Serve(const pelk::v1::SessionRequest& request) {
    cPelkLib& board = *m_object;
    pelk::v1::Reply reply;
    int status = PKERR_OK;
    switch (request.call_case()) {
        case pelk::v1::SessionRequest::kCredit: {
            std::lock_guard<std::mutex> hold(m_credit_lock);
            const uint64_t granted = std::min<uint64_t>(request.credit().bytes(), INT32_MAX);
            m_credit = std::min<int64_t>(m_credit + static_cast<int64_t>(granted), INT64_MAX / 2);
            m_credit_changed.notify_all();
            return grpc::Status::OK;
        }
        case pelk::v1::SessionRequest::kSend: {
            const pelk::v1::Send& send = request.send();
            if (send.buffers_size() > PK_MAX_DATA_BUFFERS) {
                status = PKERR_BUFCOUNT;
                break;
            }
            void* buffers[PK_MAX_DATA_BUFFERS] = {};
            unsigned int lengths[PK_MAX_DATA_BUFFERS] = {};
            for (int i = 0; i < send.buffers_size(); ++i) {
                buffers[i] = const_cast<char*>(send.buffers(i).data());
                lengths[i] = static_cast<unsigned int>(send.buffers(i).size());
            }
            const PK_SEND_INFO info = {send.type(),      0,         0, send.dst_addr1(),
                                       send.dst_addr2(), send.tag()};
            const std::string& header = send.header();
            status =
                board.SendMessage(&info, header.empty() ? nullptr : header.data(),
                                  static_cast<unsigned int>(header.size()),
                                  static_cast<unsigned int>(send.buffers_size()), buffers, lengths);
            break;
        }
        case pelk::v1::SessionRequest::kReadEeprom:
        case pelk::v1::SessionRequest::kReadEepromBySlot: {
            const bool bySlot = request.has_read_eeprom_by_slot();
            const uint32_t length =
                bySlot ? request.read_eeprom_by_slot().length() : request.read_eeprom().length();
            if (TooLarge(length)) {
                status = PKERR_NO_MEMORY;
                break;
            }
            Area area(length);
            unsigned int count = bySlot ? request.read_eeprom_by_slot().bytes_read()
                                        : request.read_eeprom().bytes_read();
            if (bySlot) {
                const pelk::v1::ReadEepromBySlot& call = request.read_eeprom_by_slot();
                status = board.ReadEEPROMbySlot(call.slot1(), call.slot2(), call.offset(), length,
                                                area.Bytes(), &count);
            } else {
                const pelk::v1::ReadEeprom& call = request.read_eeprom();
                status =
                    board.ReadEEPROM(call.board(), call.offset(), length, area.Bytes(), &count);
            }
            reply.set_count(count);
            Deliver(&reply, status, area.Bytes(), std::min(count, length));
            break;
        }
        case pelk::v1::SessionRequest::kGetDriverVersion: {
            unsigned int first = 0, second = 0;
            status = board.GetDriverVersion(&first, &second);
            if (status == PKERR_OK) {
                reply.add_first(first);
                reply.add_second(second);
            }
            break;
        }
        case pelk::v1::SessionRequest::kGetBoardMapping: {
            const pelk::v1::GetBoardMapping& call = request.get_board_mapping();
            if (TooLarge(call.size())) {
                status = PKERR_NO_MEMORY;
                break;
            }
            Area area(std::max(call.size(), kMappingLen));
            status = board.GetBoardMapping(call.board(), call.size(), area.As<PK_BOARD_MAPPING>());
            Deliver(&reply, status, area.Bytes(), std::min(call.size(), kMappingLen));
            break;
        }
        case pelk::v1::SessionRequest::kSetBoardData: {
            const pelk::v1::SetBoardData& call = request.set_board_data();
            unsigned int count = call.count();
            status = board.SetBoardData(call.board(), static_cast<unsigned int>(call.data().size()),
                                        const_cast<char*>(call.data().data()), &count);
            reply.set_count(count);
            break;
        }
        case pelk::v1::SessionRequest::kGetBoardData: {
            const pelk::v1::GetBoardData& call = request.get_board_data();
            if (TooLarge(call.size())) {
                status = PKERR_NO_MEMORY;
                break;
            }
            Area area(call.size());
            unsigned int count = call.count();
            status = board.GetBoardData(call.board(), call.size(), area.Bytes(), &count);
            reply.set_count(count);
            Deliver(&reply, status, area.Bytes(), std::min(count, call.size()));
            break;
        }
        case pelk::v1::SessionRequest::kAssertBoardReset:
            status = board.AssertBoardReset(request.assert_board_reset().board());
            break;
        case pelk::v1::SessionRequest::kLiftBoardReset:
            status = board.LiftBoardReset(request.lift_board_reset().board(),
                                          request.lift_board_reset().timeout_ms());
            break;
        case pelk::v1::SessionRequest::kDetectBoards: {
            const pelk::v1::DetectBoards& call = request.detect_boards();
            if (TooLarge(uint64_t{call.maximum()} * 8)) {
                status = PKERR_NO_MEMORY;
                break;
            }
            std::vector<unsigned int> first(call.maximum()), second(call.maximum());
            unsigned int count = call.count();
            status = board.DetectBoards(call.maximum(), first.data(), second.data(), &count);
            reply.set_count(count);
            for (unsigned int i = 0; status == PKERR_OK && i < std::min(count, call.maximum());
                 ++i) {
                reply.add_first(first[i]);
                reply.add_second(second[i]);
            }
            break;
        }
        case pelk::v1::SessionRequest::kSetBoardNumber: {
            const pelk::v1::SetBoardNumber& call = request.set_board_number();
            status = board.SetBoardNumber(call.word1(), call.word2(), call.word3());
            break;
        }
        case pelk::v1::SessionRequest::kGetDriverStats: {
            const pelk::v1::GetDriverStats& call = request.get_driver_stats();
            if (TooLarge(call.size())) {
                status = PKERR_NO_MEMORY;
                break;
            }
            Area area(std::max(call.size(), kStatsLen));
            unsigned int count = call.count();
            status = board.GetDriverStats(call.selector1(), call.selector2(), call.size(),
                                          area.As<PK_GET_DRVR_STATS>(), &count);
            reply.set_count(count);
            Deliver(&reply, status, area.Bytes(), std::min({count, call.size(), kStatsLen}));
            break;
        }
        case pelk::v1::SessionRequest::kZeroDriverStats:
            status = board.ZeroDriverStats(request.zero_driver_stats().selector1(),
                                           request.zero_driver_stats().selector2());
            break;
        case pelk::v1::SessionRequest::kRegisterForStateNotification:
            status = board.RegisterForStateNotification();
            break;
        case pelk::v1::SessionRequest::kIncrementBoardUseCount:
            status = board.IncrementBoardUseCount(request.increment_board_use_count().board());
            break;
        case pelk::v1::SessionRequest::kDecrementBoardUseCount:
            status = board.DecrementBoardUseCount(request.decrement_board_use_count().board());
            break;
        case pelk::v1::SessionRequest::kStartCore:
            status = board.StartCore(request.start_core().board());
            break;
        case pelk::v1::SessionRequest::kOpen: return Refuse("a session opens its board once");
        case pelk::v1::SessionRequest::CALL_NOT_SET:
            return Refuse("request " + std::to_string(request.id()) +
                          " names no operation of pelk protocol " + kProtocolValue);
    }
    Answer(request.id(), status, &reply);
    return grpc::Status::OK;
}

void BoardSession::PushMessages() {
    const int waitFd = m_object->GetWaitHandle();
    for (;;) {
        {
            std::unique_lock<std::mutex> hold(m_credit_lock);
            m_credit_changed.wait(hold, [this] { return m_credit > 0 || m_stopping; });
            if (m_stopping) {
                return;
            }
        }
        struct pollfd ready[2] = {{m_stop_fd, POLLIN, 0}, {waitFd, POLLIN, 0}};
        if (poll(ready, 2, -1) < 0 || ready[0].revents != 0) {
            if (ready[0].revents != 0) {
                return;
            }
            continue;  // interrupted
        }
        pelk::v1::SessionEvent event;
        pelk::v1::Message* message = event.mutable_message();
        ReceiveOne(message);
        if (message->status() == PKERR_TIMEOUT) {
            continue;  // readiness without a message
        }
        {
            std::lock_guard<std::mutex> hold(m_credit_lock);
            m_credit -= static_cast<int64_t>(MessageCreditBytes(*message));
        }
        if (!Write(event) || message->closes()) {
            return;
        }
    }
}

void BoardSession::ReceiveOne(pelk::v1::Message* message) {
    cPelkLib& board = *m_object;
    PK_REC_INFO info = {};
    std::string* header = message->mutable_header();
    header->resize(m_header_room);
    unsigned int headerLen = 0;
    int status = board.ReceiveMessage(&info, 0, m_header_room, &(*header)[0], &headerLen);
    message->set_status(status);
    if (!Arrived(status)) {
        header->clear();
        message->set_closes(status != PKERR_TIMEOUT && !ReceivesOn(status));
        return;
    }
    header->resize(std::min(headerLen, m_header_room));
    message->set_type(info.type);
    message->set_src_addr1(info.srcAddr1);
    message->set_src_addr2(info.srcAddr2);
    message->set_tag(info.tag);
    int count = PK_MAX_DATA_BUFFERS;
    while (count > 0 && info.bufLen[count - 1] == 0) --count;
    uint64_t data = 0;
    for (int i = 0; i < count; ++i) {
        message->add_lengths(info.bufLen[i]);
        data += info.bufLen[i];
    }
    if (status != PKERR_OK || count == 0) {
        return;
    }
    if (TooLarge(data)) {
        // More than the protocol carries: dropped here, a bad message there.
        board.FlushMessageBuffers();
        std::fprintf(stderr, "pelkd: %s: a message of %llu data bytes dropped (at most %u)\n",
                     m_client.c_str(), static_cast<unsigned long long>(data), kMaxMessageData);
        message->Clear();
        message->set_status(PKERR_BAD_MESSAGE);
        return;
    }
    void* buffers[PK_MAX_DATA_BUFFERS] = {};
    for (int i = 0; i < count; ++i) {
        std::string* buffer = message->add_buffers();
        buffer->resize(info.bufLen[i]);
        buffers[i] = &(*buffer)[0];
    }
    message->set_buffers_status(board.ReceiveBuffers(info.bufLen, buffers));
}

void BoardSession::StopPushing() {
    if (!m_pusher.joinable()) {
        return;
    }
    {
        std::lock_guard<std::mutex> hold(m_credit_lock);
        m_stopping = true;
        m_credit_changed.notify_all();
    }
    const uint64_t one = 1;
    (void)!write(m_stop_fd, &one, sizeof one);
    m_pusher.join();
}
