#include "oam/board_table_writer.h"

#include <cerrno>

int CBoardTableWriter::Insert(const CBoardIDShadow& record) {
    prefix();
    int index;
    if (SearchByName(m_array, record.GetName(), &index)) {
        suffix();
        return EEXIST;
    }
    m_array.InsertAt(index, record);
    return suffix();
}

int CBoardTableWriter::Remove(const char* name) {
    prefix();
    int index;
    if (!SearchByName(m_array, name, &index)) {
        suffix();
        return ENOENT;
    }
    m_array.RemoveAt(index);
    return suffix();
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
