#include "oam/board_table_writer.h"

#include <cerrno>

int CBoardTableWriter::Insert(const CBoardIDShadow& record) {
    Lock();
    int index;
    int result = EEXIST;
    if (!FindByName(record.GetName(), &index)) {
        prefix();
        m_array.InsertAt(index, record);
        result = suffix();
    }
    Unlock();
    return result;
}

int CBoardTableWriter::Remove(const char* name) {
    Lock();
    int index;
    int result = ENOENT;
    if (FindByName(name, &index)) {
        prefix();
        m_array.RemoveAt(index);
        result = suffix();
    }
    Unlock();
    return result;
}

int CBoardTableWriter::Replace(const CBoardIDShadow* records, int count) {
    prefix();
    m_array.DeleteAll();
    for (int i = 0; i < count; ++i) {
        m_array.Add(records[i]);
    }
    return suffix();
}

int CBoardTableWriter::SetIsUsingQmPlugin(bool isUsing) {
    prefix();
    m_is_using_qm_plugin = isUsing;
    return suffix();
}
