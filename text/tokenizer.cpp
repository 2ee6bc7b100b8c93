// CTokenizer: byte-wise splitting of 8-bit text on a set of delimiter bytes.
#include "text/tokenizer.h"

#include <cstring>

CTokenizer::CTokenizer(const std::string& text, const std::string& delimiters)
    : m_text(text), m_cursor(0), m_single(-1) {
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
  int count = 0;
  for (int b = 0; b < 256 && count < 2; ++b) {
    if (IsDelimiter(static_cast<unsigned char>(b))) {
      ++count;
      m_single = b;
    }
  }
  if (count != 1) m_single = -1;
}

bool CTokenizer::Next(std::string& out) {
  // The cursor is signed 32-bit; texts longer than that are split only up to
  // the last index it can hold.
  const size_t size = m_text.size();
  const int32_t length = size > static_cast<size_t>(INT32_MAX)
                             ? INT32_MAX
                             : static_cast<int32_t>(size);
  // Work on locals: stores through the text's char pointer may alias the
  // members, which would keep the compiler from holding them in registers.
  const char* const text = m_text.data();
  int32_t cursor = m_cursor;
  int32_t start;
  if (m_single >= 0) {
    const char delimiter = static_cast<char>(m_single);
    while (cursor < length && text[cursor] == delimiter) ++cursor;
    start = cursor;
    if (cursor < length) {
      const void* hit = std::memchr(text + cursor, delimiter,
                                    static_cast<size_t>(length - cursor));
      cursor = hit ? static_cast<int32_t>(static_cast<const char*>(hit) - text)
                   : length;
    }
  } else {
    while (cursor < length &&
           IsDelimiter(static_cast<unsigned char>(text[cursor]))) {
      ++cursor;
    }
    start = cursor;
    while (cursor < length &&
           !IsDelimiter(static_cast<unsigned char>(text[cursor]))) {
      ++cursor;
    }
  }
  // The cursor stays on the delimiter that ended the token; the next call
  // skips it along with any that follow.
  m_cursor = cursor;
  if (start >= length) {
    out.clear();
    return false;
  }
  out.assign(text + start, static_cast<size_t>(cursor - start));
  return true;
}
