// A growable array of individually allocated elements, held by pointer.
#ifndef PELK_OAM_ZEL_ARRAY_H
#define PELK_OAM_ZEL_ARRAY_H

#include <cstring>

template <typename T>
class CZelArray {
public:
    CZelArray(int initialCapacity, int growBy)
        : m_elements(new T*[initialCapacity]()),
          m_size(0),
          m_capacity(initialCapacity),
          m_grow_by(growBy) {}
    // Frees the element block only; owners call DeleteAll first.
    virtual ~CZelArray() {
        delete[] m_elements;
        m_elements = nullptr;
    }
    CZelArray(const CZelArray&) = delete;
    CZelArray& operator=(const CZelArray&) = delete;

    int GetSize() const { return m_size; }
    int GetCapacity() const { return m_capacity; }

    // An index outside 0 .. size - 1 yields an empty element of the array's
    // own rather than reading outside the block.
    T& GetAt(int index) const {
        if (index < 0 || index >= m_size || m_elements[index] == nullptr) {
            m_outside = T();
            return m_outside;
        }
        return *m_elements[index];
    }
    T& operator[](int index) const { return GetAt(index); }

    // Takes ownership of element. Only 0 .. size is accepted, so no slot
    // between the old end and index can ever read as an element; a refused
    // element is freed and false returned.
    bool InsertAt(int index, T* element) {
        if (index < 0 || index > m_size) {
            delete element;
            return false;
        }
        if (index + 1 > m_capacity) {
            realloc(index + m_grow_by + 1);
            m_size = index + 1;
        } else {
            if (m_size == m_capacity) {
                realloc(m_capacity + m_grow_by);
            }
            if (index < m_size) {
                std::memmove(&m_elements[index + 1], &m_elements[index],
                             sizeof(T*) * static_cast<size_t>(m_size - index));
                ++m_size;
            } else {
                m_size = index + 1;
            }
        }
        m_elements[index] = element;
        return true;
    }
    bool InsertAt(int index, T value) { return InsertAt(index, new T(value)); }
    bool Add(T value) { return InsertAt(GetSize(), value); }

    // Frees the element at index and closes the gap.
    bool RemoveAt(int index) {
        if (index < 0 || index >= m_size) {
            return false;
        }
        delete m_elements[index];
        std::memmove(&m_elements[index], &m_elements[index + 1],
                     sizeof(T*) * static_cast<size_t>(m_size - index - 1));
        --m_size;
        return true;
    }

    void DeleteAll() {
        for (int i = 0; i < m_size; ++i) {
            delete m_elements[i];
        }
        m_size = 0;
    }

    void realloc(int newCapacity) {
        T** block = new T*[newCapacity]();
        int kept = newCapacity < m_capacity ? newCapacity : m_capacity;
        for (int i = 0; i < kept; ++i) {
            block[i] = m_elements[i];
        }
        delete[] m_elements;
        m_elements = block;
        m_capacity = newCapacity;
    }

private:
    T** m_elements;
    int m_size;
    int m_capacity;
    int m_grow_by;
    mutable T m_outside;
};

#endif
