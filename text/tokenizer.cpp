// CTokenizer: byte-wise splitting of 8-bit text on a set of delimiter bytes.
#include "text/tokenizer.h"

#include <cstring>

CTokenizer::CTokenizer(const std::string& text, const std::string& delimiters)
    : m_text(text), m_cursor(0) {
  std::memset(m_delimiters, 0, sizeof(m_delimiters));
  AddDelimiters(delimiters);
}

void CTokenizer::AddDelimiters(const std::string& delimiters) {
  // Bytes are looked up by their unsigned value, so 128..255 get flags of
  // their own instead of turning into negative indexes.
  for (char c : delimiters) {
    unsigned char byte = static_cast<unsigned char>(c);
    m_delimiters[byte >> 5] |= 1u << (byte & 31);
  }
}

bool CTokenizer::Next(std::string& out) {
  out.clear();
  // The cursor is signed 32-bit; texts longer than that are split only up to
  // the last index it can hold.
  const size_t size = m_text.size();
  const int32_t length = size > static_cast<size_t>(INT32_MAX)
                             ? INT32_MAX
                             : static_cast<int32_t>(size);
  while (m_cursor < length &&
         IsDelimiter(static_cast<unsigned char>(m_text[m_cursor]))) {
    ++m_cursor;
  }
  if (m_cursor >= length) return false;
  const int32_t start = m_cursor;
  while (m_cursor < length &&
         !IsDelimiter(static_cast<unsigned char>(m_text[m_cursor]))) {
    ++m_cursor;
  }
  // The cursor stays on the delimiter that ended the token; the next call
  // skips it along with any that follow.
  out.assign(m_text, static_cast<size_t>(start),
             static_cast<size_t>(m_cursor - start));
  return true;
}
