#include "tools/zbhost/replay.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <vector>

#include "capture/capture_reader.h"
#include "tools/zbhost/echo_pair.h"
#include "tools/zbhost/manager.h"
#include "wire/emulator_frame.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint64_t kMaxDataBytes = 16u * 1024u * 1024u;

const char* const kFields[] = {"type",   "dst1",   "dst2",   "tag",    "numbufs",     "header_len",
                               "word0",  "word1",  "opaque", "word4",  "param_count", "param0",
                               "param1", "param2", "param3", "param4", "param5",      "param6",
                               "param7", "header", "buflen", "data"};

struct Message {
    PK_MSG_DESC desc = {};
    std::vector<uint8_t> header;
    std::vector<std::vector<uint8_t>> data;
    uint64_t timestampNs = 0;
    uint64_t offset = 0;  // of its record in the capture
};

// One recorded send with the messages received after it.
struct Step {
    Message expected;
    std::vector<Message> answers;
};

struct Script {
    std::vector<Message> opening;  // received before the first send
    std::vector<Step> steps;
};

bool MessageArrived(int32_t status) {
    return status == PKERR_OK || status == PKERR_DATA_LOST || status == PKERR_WRONG_BUFSIZE;
}

// The session of the first object that sent a message.
Script BuildScript(const Capture& capture, std::string* object) {
    Script script;
    uint32_t chosen = UINT32_MAX;
    for (const CaptureRecord& record : capture.records) {
        if (record.kind == RecordKind::Sent && record.status == 0) {
            chosen = record.interface;
            break;
        }
    }
    if (chosen == UINT32_MAX) return script;
    *object = capture.interfaces[chosen];
    Message* last = nullptr;  // the received message whose buffers may follow
    for (const CaptureRecord& record : capture.records) {
        if (record.interface != chosen) continue;
        Message message;
        message.desc = record.desc;
        message.header = record.header;
        message.data = record.data;
        message.timestampNs = record.timestampNs;
        message.offset = record.offset;
        if (record.kind == RecordKind::Sent && record.status == 0) {
            // Buffers too large to be recorded go out as zeros.
            if (message.data.empty()) {
                for (uint32_t i = 1; i < message.desc.numbufs; ++i) {
                    message.data.emplace_back(message.desc.Buflen[i], 0);
                }
            }
            script.steps.push_back({message, {}});
            last = nullptr;
        } else if (record.kind == RecordKind::Received && MessageArrived(record.status)) {
            // Data the application dropped or never fetched goes out as zeros.
            for (uint32_t i = 1; i < message.desc.numbufs; ++i) {
                message.data.emplace_back(message.desc.Buflen[i], 0);
            }
            auto& list = script.steps.empty() ? script.opening : script.steps.back().answers;
            list.push_back(message);
            last = &list.back();
        } else if (record.kind == RecordKind::Buffers && last != nullptr && !record.data.empty()) {
            for (size_t i = 0; i < record.data.size() && i < last->data.size(); ++i) {
                if (record.data[i].size() == last->data[i].size()) last->data[i] = record.data[i];
            }
            last = nullptr;
        }
    }
    return script;
}

std::string Frame(const Message& message) {
    PK_PIPE_FRAME frame;
    std::memcpy(frame.magic, ZBHOST_FRAME_MAGIC, sizeof frame.magic);
    frame.desc = message.desc;
    frame.desc.Buflen[0] = static_cast<uint32_t>(message.header.size());
    std::string bytes(reinterpret_cast<const char*>(&frame), sizeof frame);
    bytes.append(message.header.begin(), message.header.end());
    for (const auto& buffer : message.data) bytes.append(buffer.begin(), buffer.end());
    return bytes;
}

class Session {
public:
    Session(const ReplayOptions& options, Script script, int signals, bool verbose)
        : m_options(options), m_script(std::move(script)), m_signals(signals), m_verbose(verbose) {}
    int Run();

private:
    // A client's pipe pair with the bytes it sent that form no whole message yet.
    struct Client {
        EchoPair pair;  // its pipes only: the replay does its own reading and writing
        std::vector<char> input;
    };

    bool Serve();  // false when stopped by a signal
    void AnswerRequests();
    // Reads from a client; false when the session ends with it.
    bool ServeClient(int number);
    void Answer(const std::vector<Message>& answers, uint64_t sentNs);
    // Compares the client's messages; false for a malformed stream.
    bool TakeMessages(int number);
    void Compare(const PK_PIPE_FRAME& frame, const char* header, const char* data);
    void Differ(const std::string& field, const std::string& recorded, const std::string& got);
    bool Ignored(const char* field) const { return m_options.ignored.count(field) != 0; }
    void Write();
    bool Exhausted() const { return m_next == m_script.steps.size() && m_queue.empty(); }
    int ToClient() { return m_clients.at(m_bound).pair.ToLibrary(); }

    struct Pending {
        std::string bytes;
        Clock::time_point due;
    };

    const ReplayOptions& m_options;
    Script m_script;
    int m_signals;
    bool m_verbose;
    Manager m_manager;
    // Every client gets a pair, so an application may open objects that send
    // nothing; the session is the first client that sends (or the first
    // client, when the recording begins with received messages).
    std::map<int, Client> m_clients;
    int m_bound = -1;
    std::deque<Pending> m_queue;
    size_t m_written = 0;  // of m_queue.front()
    size_t m_next = 0;     // next step to match
    size_t m_matched = 0;
    size_t m_differing = 0;
    bool m_this_differs = false;
    size_t m_message = 0;  // messages taken from the client
};

void Session::Differ(const std::string& field, const std::string& recorded,
                     const std::string& got) {
    const Message& expected = m_script.steps[m_next].expected;
    std::fprintf(stderr,
                 "zbhost: message %zu (capture offset %llu): %s: recorded %s, received %s\n",
                 m_message, static_cast<unsigned long long>(expected.offset), field.c_str(),
                 recorded.c_str(), got.c_str());
    m_this_differs = true;
}

void Session::Compare(const PK_PIPE_FRAME& frame, const char* header, const char* data) {
    const Message& expected = m_script.steps[m_next].expected;
    const PK_MSG_DESC& want = expected.desc;
    const PK_MSG_DESC& got = frame.desc;
    m_this_differs = false;
    auto number = [&](const char* field, uint32_t recorded, uint32_t received) {
        if (!Ignored(field) && recorded != received) {
            Differ(field, std::to_string(recorded), std::to_string(received));
        }
    };
    auto bytes = [&](const std::string& field, const uint8_t* recorded, const char* received,
                     size_t length) {
        if (!Ignored(field.c_str()) && std::memcmp(recorded, received, length) != 0) {
            size_t at = 0;
            while (recorded[at] == static_cast<uint8_t>(received[at])) ++at;
            Differ(field, "byte " + std::to_string(at) + " = " + std::to_string(recorded[at]),
                   std::to_string(static_cast<uint8_t>(received[at])));
        }
    };
    number("type", want.type, got.type);
    number("dst1", want.dstAddr1, got.dstAddr1);
    number("dst2", want.dstAddr2, got.dstAddr2);
    number("tag", want.tag, got.tag);
    number("numbufs", want.numbufs, got.numbufs);
    number("header_len", static_cast<uint32_t>(expected.header.size()), got.Buflen[0]);
    if (expected.header.size() == got.Buflen[0] && got.Buflen[0] == PK_MAX_HEADER_LEN) {
        const uint8_t* w = expected.header.data();
        auto word = [&](const char* field, size_t at) {
            uint32_t received;
            std::memcpy(&received, header + at, 4);
            number(field, LoadLittleEndian32(w + at), received);
        };
        word("word0", 0);
        word("word1", 4);
        bytes("opaque", w + 8, header + 8, 8);
        word("word4", 16);
        word("param_count", 20);
        for (int i = 0; i < 8; ++i) word(kFields[11 + i], 24 + 4 * i);
    } else if (expected.header.size() == got.Buflen[0]) {
        bytes("header", expected.header.data(), header, expected.header.size());
    }
    if (want.numbufs == got.numbufs) {
        for (uint32_t i = 1; i < got.numbufs; ++i) {
            const std::vector<uint8_t>& recorded = expected.data[i - 1];
            if (recorded.size() != got.Buflen[i]) {
                number("buflen", static_cast<uint32_t>(recorded.size()), got.Buflen[i]);
            } else if (!Ignored("data")) {
                bytes("data[" + std::to_string(i - 1) + "]", recorded.data(), data,
                      recorded.size());
            }
            data += got.Buflen[i];
        }
    }
    m_this_differs ? ++m_differing : ++m_matched;
}

bool Session::TakeMessages(int number) {
    std::vector<char>& input = m_clients.at(number).input;
    if (m_bound == -1) m_bound = number;
    size_t consumed = 0;
    while (input.size() - consumed >= ZBHOST_SEND_BLOCK_LEN) {
        PK_PIPE_FRAME frame;
        std::memcpy(&frame, input.data() + consumed, sizeof frame);
        const PK_MSG_DESC& desc = frame.desc;
        if (std::memcmp(frame.magic, ZBHOST_FRAME_MAGIC, sizeof frame.magic) != 0 ||
            desc.numbufs < 1 || desc.numbufs > 5 || desc.Buflen[0] > PK_MAX_HEADER_LEN) {
            std::fprintf(stderr, "zbhost: malformed frame from the client\n");
            return false;
        }
        uint64_t dataBytes = 0;
        for (uint32_t i = 1; i < desc.numbufs; ++i) dataBytes += desc.Buflen[i];
        if (dataBytes > kMaxDataBytes) {
            std::fprintf(stderr, "zbhost: message of %llu data bytes from the client\n",
                         static_cast<unsigned long long>(dataBytes));
            return false;
        }
        const size_t whole = ZBHOST_SEND_BLOCK_LEN + static_cast<size_t>(dataBytes);
        if (input.size() - consumed < whole) break;
        ++m_message;
        const char* header = input.data() + consumed + ZBHOST_FRAME_LEN;
        if (number != m_bound) {
            std::fprintf(stderr, "zbhost: message (tag %u) from a second client is not replayed\n",
                         desc.tag);
            ++m_differing;
        } else if (m_next < m_script.steps.size()) {
            Compare(frame, header, header + PK_MAX_HEADER_LEN);
            Answer(m_script.steps[m_next].answers, m_script.steps[m_next].expected.timestampNs);
            ++m_next;
        } else {
            std::fprintf(stderr, "zbhost: message %zu (tag %u) is beyond the end of the capture\n",
                         m_message, desc.tag);
            ++m_differing;
        }
        consumed += whole;
    }
    input.erase(input.begin(), input.begin() + static_cast<std::ptrdiff_t>(consumed));
    return true;
}

// Queues the answers; with --timing each keeps its recorded distance from
// the record before it.
void Session::Answer(const std::vector<Message>& answers, uint64_t sentNs) {
    Clock::time_point due = Clock::now();
    uint64_t previous = sentNs;
    for (const Message& answer : answers) {
        if (m_options.timing && answer.timestampNs > previous) {
            due += std::chrono::nanoseconds(answer.timestampNs - previous);
        }
        previous = answer.timestampNs;
        m_queue.push_back({Frame(answer), due});
    }
}

// The first piece of an answer is at most PIPE_BUF bytes, so the frame
// arrives whole in one read.
void Session::Write() {
    while (!m_queue.empty() && m_queue.front().due <= Clock::now()) {
        const std::string& bytes = m_queue.front().bytes;
        size_t length = bytes.size() - m_written;
        if (m_written == 0 && length > PIPE_BUF) length = PIPE_BUF;
        const ssize_t written = write(ToClient(), bytes.data() + m_written, length);
        if (written <= 0) return;
        m_written += static_cast<size_t>(written);
        if (m_written == bytes.size()) {
            m_queue.pop_front();
            m_written = 0;
        }
    }
}

void Session::AnswerRequests() {
    size_t dropped = 0;
    for (int requests = m_manager.TakeRequests(&dropped); requests > 0; --requests) {
        const int number = m_clients.empty() ? 0 : m_clients.rbegin()->first + 1;
        std::string reason;
        if (!m_clients[number].pair.Create(number, &reason)) {
            std::fprintf(stderr, "zbhost: %s\n", reason.c_str());
            m_clients.erase(number);
            m_manager.Reply(-1);
            continue;
        }
        m_manager.Reply(number);
        if (m_bound == -1 && !m_script.opening.empty()) {
            m_bound = number;
            Answer(m_script.opening, m_script.opening.front().timestampNs);
        }
    }
}

bool Session::ServeClient(int number) {
    Client& client = m_clients.at(number);
    char chunk[64 * 1024];
    const ssize_t got = read(client.pair.FromLibrary(), chunk, sizeof chunk);
    if (got < 0) return errno == EAGAIN || errno == EINTR;
    if (got > 0) {
        client.input.insert(client.input.end(), chunk, chunk + got);
        return TakeMessages(number);
    }
    if (number == m_bound) return false;  // the session's client closed its pipes
    client.pair.Remove();
    m_clients.erase(number);
    return true;
}

bool Session::Serve() {
    std::vector<pollfd> polled;
    std::vector<int> numbers;
    for (;;) {
        if (m_bound != -1 && Exhausted()) return true;
        polled = {{m_signals, POLLIN, 0}, {m_manager.RequestFd(), POLLIN, 0}, {-1, POLLOUT, 0}};
        numbers.clear();
        for (const auto& entry : m_clients) {
            polled.push_back({entry.second.pair.FromLibrary(), POLLIN, 0});
            numbers.push_back(entry.first);
        }
        int timeout = -1;
        if (!m_queue.empty()) {
            const auto wait = m_queue.front().due - Clock::now();
            if (wait <= Clock::duration::zero()) {
                polled[2].fd = ToClient();
            } else {
                timeout = static_cast<int>(
                    std::chrono::duration_cast<std::chrono::milliseconds>(wait).count() + 1);
            }
        }
        if (poll(polled.data(), polled.size(), timeout) < 0 && errno != EINTR) {
            std::perror("zbhost: poll");
            return true;
        }
        if (polled[0].revents & POLLIN) return false;
        for (size_t i = 0; i < numbers.size(); ++i) {
            if ((polled[3 + i].revents & (POLLIN | POLLHUP | POLLERR)) &&
                !ServeClient(numbers[i])) {
                return true;
            }
        }
        if (polled[1].revents & POLLIN) AnswerRequests();
        Write();
    }
}

int Session::Run() {
    std::string reason;
    if (!m_manager.Create(&reason)) {
        std::fprintf(stderr, "zbhost: %s\n", reason.c_str());
        return 1;
    }
    if (m_verbose) {
        std::fprintf(stderr, "zbhost: replaying %zu messages of %s\n", m_script.steps.size(),
                     m_options.file.c_str());
    }
    const bool finished = Serve();
    for (auto& entry : m_clients) entry.second.pair.Remove();
    m_manager.Remove();
    const size_t unanswered = m_script.steps.size() - m_next;
    std::fprintf(stderr, "zbhost: replay %s: %zu matched, %zu differing, %zu unanswered%s\n",
                 m_options.file.c_str(), m_matched, m_differing, unanswered,
                 finished ? "" : " (stopped by a signal)");
    return m_differing == 0 && unanswered == 0 ? 0 : 1;
}

}  // namespace

bool ValidReplayFields(const std::set<std::string>& fields, std::string* unknown) {
    for (const std::string& field : fields) {
        bool known = false;
        for (const char* name : kFields) known = known || field == name;
        if (!known) {
            *unknown = field;
            return false;
        }
    }
    return true;
}

const char* ReplayFieldNames() {
    return "type, dst1, dst2, tag, numbufs, header_len, word0, word1, opaque, word4, "
           "param_count, param0 to param7, header, buflen, data";
}

int RunReplay(const ReplayOptions& options, int signals, bool verbose) {
    Capture capture;
    if (!ReadCaptureFile(options.file, &capture)) {
        std::fprintf(stderr, "zbhost: %s: %s\n", options.file.c_str(), capture.error.c_str());
        return 2;
    }
    std::string object;
    Script script = BuildScript(capture, &object);
    if (script.steps.empty()) {
        std::fprintf(stderr, "zbhost: %s holds no message sent by an application\n",
                     options.file.c_str());
        return 2;
    }
    if (verbose) {
        std::fprintf(stderr, "zbhost: replaying object \"%s\"\n", object.c_str());
    }
    return Session(options, std::move(script), signals, verbose).Run();
}
