// Foundation classes the library calls: a bounded byte stream, a stream over
// a named shared-memory segment, a named inter-process mutex and a string.
#ifndef PELK_SERVICES_ZELZFC_H
#define PELK_SERVICES_ZELZFC_H

#include <cstdint>
#include <string>

// A byte stream over a fixed block of memory with a current position.
// Values are laid out in host byte order: an int as 4 bytes, a bool as 1.
// Nothing is ever read or written outside the block: a transfer that would
// cross its end is refused whole and leaves the stream failed, after which
// every transfer is refused until Rewind().
class CZelStream {
public:
    static constexpr uint32_t kIntSize = 4;
    static constexpr uint32_t kBoolSize = 1;

    CZelStream();
    CZelStream(void* data, uint32_t size);
    virtual ~CZelStream() = default;
    CZelStream(const CZelStream&) = delete;
    CZelStream& operator=(const CZelStream&) = delete;

    // Copy count bytes to or from the current position and advance it.
    // Return the bytes moved: count, or 0 when refused.
    virtual unsigned WriteBlock(const void* data, unsigned count);
    virtual unsigned ReadBlock(void* data, unsigned count);

    CZelStream& operator<<(int value);
    CZelStream& operator<<(bool value);
    // A refused read leaves the target unchanged.
    CZelStream& operator>>(int& value);
    CZelStream& operator>>(bool& value);

    bool Failed() const { return m_failed; }
    uint32_t GetPosition() const { return m_position; }
    uint32_t GetLength() const { return m_size; }
    // Back to the first byte, failure cleared.
    void Rewind();
    // The block the stream runs over, and a new one (rewound).
    void* GetBlock() const { return m_data; }
    void SetBlock(void* data, uint32_t size);

private:
    bool Fits(uint32_t count);

    unsigned char* m_data;
    uint32_t m_size;
    uint32_t m_position;
    bool m_failed;
};

// A stream whose bytes live in the POSIX shared-memory segment "/<name>".
// The first process to open the segment gives it the requested size (its
// bytes read as zeros); later ones attach with the size the segment has.
class CZelStreamSharedMemory : public CZelStream {
public:
    CZelStreamSharedMemory(const char* name, unsigned long size);
    ~CZelStreamSharedMemory() override;

    // 0 when the segment is mapped, otherwise the errno of the failed step.
    int GetOpenError() const { return m_open_error; }
    // Rewinds to the first byte. The mapping is shared, so every write is
    // already visible to every process once the writer releases its lock.
    int Flush();
    // Unmaps the segment; the stream is then empty. The segment stays.
    int Close();

    // 1 exactly when this construction sized a new segment.
    uint32_t m_created;

private:
    int Open(const char* name, unsigned long size);

    void* m_address;
    size_t m_mapped;
    int m_open_error;
};

struct ZelSharedMutex;

// A mutex shared by every process that constructs one with the same name:
// recursive for the thread that holds it, and robust: a holder that dies
// leaves it to the next locker. It lives in the shared-memory segment
// "/<name>.mutex". The two integer arguments are unused.
class CZelMutex {
public:
    CZelMutex(int, const char* name, int);
    ~CZelMutex();
    CZelMutex(const CZelMutex&) = delete;
    CZelMutex& operator=(const CZelMutex&) = delete;

    int GetOpenError() const { return m_open_error; }
    const char* GetName() const { return m_name.c_str(); }
    // timeout in milliseconds, -1 for no limit. 0 once held (one level more
    // for its holder), ETIMEDOUT, or the error that kept it from locking.
    int Lock(long timeout);
    // Releases one level: 0, or EPERM when the caller does not hold it.
    int Unlock();

private:
    int Open();

    std::string m_name;
    ZelSharedMutex* m_shared;
    size_t m_mapped;
    int m_open_error;
};

// A text value.
class CZelString {
public:
    explicit CZelString(const char* text);
    CZelString& operator+=(const char* text);
    operator const char*() const { return m_text.c_str(); }

private:
    std::string m_text;
};

#endif
