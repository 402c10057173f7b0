#include "services/ZelZfc.h"

CZelString::CZelString(const char* text) : m_text(text) {}

CZelString& CZelString::operator+=(const char* text) {
    m_text += text;
    return *this;
}
