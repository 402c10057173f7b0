// The journal that makes a store of a shared table recoverable: a second
// segment, "/<name>.journal", holding a state word, a length, a count of
// the table segments made so far and the image to be written. A store writes the new image into the
// journal, marks it complete, copies it over the table and clears the mark, so a writer killed at
// any point leaves either the old table (mark not set: the journal is ignored) or a complete image
// to finish from (mark set). The table's own segment keeps its layout; readers unaware of the
// journal see what they always saw, except in the moment a dead writer left behind.
#ifndef PELK_OAM_TABLE_JOURNAL_H
#define PELK_OAM_TABLE_JOURNAL_H

#include <cstddef>
#include <cstdint>

struct TableJournalHeader;

// Every write of a store into the shared segments (the journal's words,
// the image copied over the table) goes through this table, so that tests
// can stop a writer between any two of them. Bound to plain memory writes:
// `word` stores with release order, `bytes` is memcpy.
struct TableStoreWrites {
    void (*word)(uint32_t* at, uint32_t value);
    void (*bytes)(void* to, const void* from, size_t length);
};
extern TableStoreWrites g_tableStoreWrites;

class CTableJournal {
public:
    // Opens (or creates) "/<name>.journal" with room for an image of
    // tableSize bytes.
    CTableJournal(const char* name, uint32_t tableSize);
    ~CTableJournal();
    CTableJournal(const CTableJournal&) = delete;
    CTableJournal& operator=(const CTableJournal&) = delete;

    // 0 once mapped, otherwise the errno of the failed step.
    int GetOpenError() const { return m_open_error; }

    // All of the following run with the table's mutex held.
    // Where the next image of the table is written: the journal's image
    // area, or the table itself when the journal has no room for it (a
    // journal made for a smaller table); such a store is not journaled.
    void* ImageArea(void* table, uint32_t tableSize) const;
    // Makes the first `length` bytes of image, written at ImageArea(), the
    // table's; nothing is written when the table holds them already (or
    // the image was written over the table itself).
    void Commit(void* table, const void* image, uint32_t length);
    // Finishes a store that a writer marked complete and did not clear.
    void Recover(void* table, uint32_t tableSize);

    // Counts a table segment made anew (after the last one was removed), so
    // that a process still holding the old one can tell. Generation() is
    // that count (0 without a journal).
    void NoteNewTable();
    uint32_t Generation() const;

private:
    TableJournalHeader* m_header;
    uint8_t* m_image;
    uint32_t m_capacity;
    size_t m_mapped;
    int m_open_error;
};

#endif
