// One pipe pair of the runtime, served by an emulated board that sends
// every message back: same type, tag, header and data, with the source and
// destination address words swapped.
#ifndef ZBHOST_ECHO_PAIR_H
#define ZBHOST_ECHO_PAIR_H

#include <chrono>
#include <deque>
#include <string>
#include <vector>

class EchoPair {
public:
    enum class Outcome { Open, ClosedByLibrary, Malformed };
    using Clock = std::chrono::steady_clock;

    // Creates the pair's FIFOs and opens the runtime's ends. False with a
    // reason when they cannot be made.
    bool Create(int number, std::string* reason);
    // Closes the runtime's ends and removes both FIFOs.
    void Remove();

    // Takes what the library wrote and answers every complete message.
    Outcome OnReadable();
    // Writes queued answers as far as the pipe takes them; ClosedByLibrary
    // when the library's reading end has gone.
    Outcome OnWritable();

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
    bool HasOutput() const { return !m_answers.empty(); }
    size_t QueuedAnswers() const { return m_answers.size(); }
    size_t QueuedAnswerBytes() const { return m_answer_bytes; }
    const std::string& Problem() const { return m_problem; }

private:
    // Answers complete messages at the start of m_input; false when the
    // stream holds a malformed frame (m_problem says why).
    bool AnswerCompleteMessages();

    int m_number = -1;
    int m_from_library = -1;  // runtime reads: the library's out-pipe
    int m_to_library = -1;    // runtime writes: the library's in-pipe
    bool m_opened = false;
    Clock::time_point m_reply_taken;
    std::vector<char> m_input;
    std::deque<std::string> m_answers;
    size_t m_answer_offset = 0;  // bytes of m_answers.front() already written
    size_t m_answer_bytes = 0;   // total size of m_answers
    std::string m_problem;
};

#endif
