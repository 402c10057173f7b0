// An array that is written to and read back from a stream: the element
// count as an int, then each element's own image, back to back.
#ifndef PELK_OAM_ZEL_STREAMABLE_ARRAY_H
#define PELK_OAM_ZEL_STREAMABLE_ARRAY_H

#include "oam/zel_array.h"
#include "services/ZelZfc.h"

template <typename T>
class CZelStreamableArray : public CZelArray<T> {
public:
    CZelStreamableArray(int initialCapacity, int growBy) : CZelArray<T>(initialCapacity, growBy) {}
    ~CZelStreamableArray() override = default;

    void DeleteAll() { CZelArray<T>::DeleteAll(); }
};

template <typename T>
CZelStream& operator<<(CZelStream& stream, const CZelStreamableArray<T>& array) {
    int count = array.GetSize();
    stream << count;
    for (int i = 0; i < count; ++i) {
        stream << array[i];
    }
    return stream;
}

// Replaces the array's content. Whatever count the stream holds, no more
// elements are read than the stream has bytes for: reading stops at the
// first element the stream cannot deliver (the stream is then failed).
// Elements the array already holds are read into again rather than freed
// and allocated anew; the content that results is the same.
template <typename T>
CZelStream& operator>>(CZelStream& stream, CZelStreamableArray<T>& array) {
    int count = 0;
    stream >> count;
    int loaded = 0;
    for (; loaded < count; ++loaded) {
        if (loaded < array.GetSize()) {
            stream >> array[loaded];
        } else {
            T* element = new T();
            stream >> *element;
            if (stream.Failed()) {
                delete element;
            } else {
                array.InsertAt(loaded, element);
            }
        }
        if (stream.Failed()) {
            break;
        }
    }
    while (array.GetSize() > loaded) {
        array.RemoveAt(array.GetSize() - 1);
    }
    return stream;
}

#endif
