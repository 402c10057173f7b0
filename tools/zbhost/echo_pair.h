// One pipe pair of the runtime, served by an emulated board that sends
// every message back: same type, tag, header and data, with the source and
// destination address words swapped.
//
// The pair reads what the library writes into one buffer of its own and
// answers each message in place: the frame's address words are swapped
// where it lies, and the answer (frame, header, data) is written from there
// with one writev. The buffer keeps its size from message to message, so a
// pair that is in use allocates nothing; it is given back once the pair has
// been idle for a while, but for what it still holds (ReleaseIfIdle).
#ifndef ZBHOST_ECHO_PAIR_H
#define ZBHOST_ECHO_PAIR_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

class EchoPair {
public:
    enum class Outcome { Open, ClosedByLibrary, Malformed };
    using Clock = std::chrono::steady_clock;

    EchoPair() = default;
    ~EchoPair();
    EchoPair(const EchoPair&) = delete;
    EchoPair& operator=(const EchoPair&) = delete;

    // Creates the pair's FIFOs and opens the runtime's ends. False with a
    // reason when they cannot be made.
    bool Create(int number, std::string* reason);
    // Closes the runtime's ends, removes both FIFOs and frees the buffer.
    void Remove();

    // Takes what the library wrote and answers every complete message.
    Outcome OnReadable();
    // Writes queued answers as far as the pipe takes them; ClosedByLibrary
    // when the library's reading end has gone.
    Outcome OnWritable();
    // When nothing was read since the last call, frees the buffer or, when
    // it holds part of a message (or answers not yet taken), shrinks it to
    // just that. True while the pair still holds a buffer.
    bool ReleaseIfIdle();

    // True once the library has opened its reading end, the last step of
    // its open (checked again on each call until then).
    bool CheckOpenedByLibrary();
    bool OpenedByLibrary() const { return m_opened; }
    // When the client read this pair's number from the manager, if it has.
    void SetReplyTaken(Clock::time_point when) { m_reply_taken = when; }
    bool ReplyTaken() const { return m_reply_taken != Clock::time_point(); }
    Clock::time_point ReplyTakenAt() const { return m_reply_taken; }

    int Number() const { return m_number; }
    int FromLibrary() const { return m_from_library; }
    int ToLibrary() const { return m_to_library; }
    bool HasOutput() const { return m_queued > 0; }
    size_t QueuedAnswers() const { return m_queued; }
    size_t QueuedAnswerBytes() const { return m_queued_bytes; }
    const std::string& Problem() const { return m_problem; }

private:
    // Answers the complete messages after m_complete; false when the stream
    // holds a malformed frame (m_problem says why).
    bool AnswerCompleteMessages();
    // Room to read the rest of the message after m_complete; false (with
    // m_problem) when no memory is left for it.
    bool MakeRoom();

    int m_number = -1;
    int m_from_library = -1;  // runtime reads: the library's out-pipe
    int m_to_library = -1;    // runtime writes: the library's in-pipe
    bool m_opened = false;
    Clock::time_point m_reply_taken;

    // The bytes read: [m_start, m_complete) are messages whose answers are
    // queued, oldest first, each answered in place; [m_complete, m_end) is
    // the start of the next message, m_next_length bytes long in all once
    // its frame is known (0 before).
    char* m_buffer = nullptr;
    size_t m_capacity = 0;
    size_t m_start = 0;
    size_t m_complete = 0;
    size_t m_end = 0;
    size_t m_next_length = 0;
    size_t m_queued = 0;        // answers queued
    size_t m_queued_bytes = 0;  // their size in all
    size_t m_written = 0;       // bytes of the oldest answer already written
    bool m_read_since_release_check = false;
    std::string m_problem;
};

#endif
