// An array kept in a named shared-memory segment. Every access loads the
// whole array from the segment into a private copy and stores it back, under
// a named inter-process mutex held from the load to the store. A store goes
// through the table's journal (oam/table_journal.h), and every Lock()
// finishes a store that a dead writer left complete there, so no locker
// ever sees a table torn by a killed writer.
#ifndef PELK_OAM_ZEL_SHARED_MEMORY_ARRAY_H
#define PELK_OAM_ZEL_SHARED_MEMORY_ARRAY_H

#include <cerrno>

#include "oam/table_journal.h"
#include "oam/zel_streamable_array.h"
#include "services/ZelZfc.h"

template <typename T>
class CZelSharedMemoryArray {
public:
    // Attaches to (or creates) the segment `name` of `size` bytes and the
    // mutex named `name` + "CZelSharedMemoryArray"; a segment created here
    // starts with an empty array.
    CZelSharedMemoryArray(const char* name, int size)
        : m_array(5, 3),
          m_stream(name, static_cast<unsigned long>(size)),
          m_mutex(0, getMutexName(name), 0),
          m_journal(name, m_stream.GetLength()) {
        Lock();
        if (m_stream.m_created == 1) {
            // Another process may have attached to the new segment and stored
            // records before this one got the mutex: write the empty array
            // only while the segment still holds none, so they are kept.
            int count = 0;
            m_stream.Flush();
            m_stream >> count;
            if (count == 0) {
                m_stream.Flush();
                m_stream << m_array;
            }
            m_stream.m_created = 0;
            m_journal.NoteNewTable();
        }
        Unlock();
    }
    // Neither locks nor stores.
    virtual ~CZelSharedMemoryArray() {
        Close();
        m_array.DeleteAll();
    }
    CZelSharedMemoryArray(const CZelSharedMemoryArray&) = delete;
    CZelSharedMemoryArray& operator=(const CZelSharedMemoryArray&) = delete;

    virtual int Close() { return m_stream.Close(); }

    // Lock, then load. 0, or EOVERFLOW when the segment promised more than
    // it holds (what it does hold is loaded).
    virtual int prefix() {
        Lock();
        return Load();
    }
    // Store, then unlock. 0, or EOVERFLOW when the array does not fit the
    // segment (nothing past its end is written).
    virtual int suffix() {
        int result = Store();
        Commit();
        Unlock();
        return result;
    }

    int Lock() {
        int result = m_mutex.Lock(-1);
        if (result == 0) {
            m_journal.Recover(m_stream.GetBlock(), m_stream.GetLength());
        }
        return result;
    }
    int Unlock() { return m_mutex.Unlock(); }

    // How many times a segment of this name was made anew so far; read it
    // with the mutex held. A process that opened the segment before the
    // count last changed holds one that has since been replaced.
    uint32_t TableGeneration() const { return m_journal.Generation(); }

    // 0 once segment and mutex are open, otherwise the errno that failed.
    int GetOpenError() const {
        if (m_stream.GetOpenError() != 0) {
            return m_stream.GetOpenError();
        }
        return m_mutex.GetOpenError() != 0 ? m_mutex.GetOpenError() : m_journal.GetOpenError();
    }

    int GetSize() {
        prefix();
        int size = m_array.GetSize();
        suffix();
        return size;
    }

    // The element of the table as just loaded; valid until the next load.
    T& operator[](int index) {
        prefix();
        T& element = m_array[index];
        suffix();
        return element;
    }

    CZelString getMutexName(const char* name) const {
        CZelString mutexName(name);
        mutexName += "CZelSharedMemoryArray";
        return mutexName;
    }

protected:
    int Load() {
        m_stream.Flush();
        m_stream >> m_array;
        return m_stream.Failed() ? EOVERFLOW : 0;
    }
    // Writes the array as the start of the table's next image; more may
    // follow in m_image before Commit() makes the image the table's.
    int Store() {
        m_image.SetBlock(m_journal.ImageArea(m_stream.GetBlock(), m_stream.GetLength()),
                         m_stream.GetLength());
        m_image << m_array;
        return m_image.Failed() ? EOVERFLOW : 0;
    }
    void Commit() {
        m_journal.Commit(m_stream.GetBlock(), m_image.GetBlock(), m_image.GetPosition());
    }

    CZelStreamableArray<T> m_array;
    CZelStreamSharedMemory m_stream;
    CZelMutex m_mutex;
    CTableJournal m_journal;
    CZelStream m_image;
};

#endif
