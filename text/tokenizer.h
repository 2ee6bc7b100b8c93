// CTokenizer: splits 8-bit text into the runs of bytes between delimiter
// bytes, never giving an empty token.
#pragma once

#include <cstdint>
#include <string>

class CTokenizer {
 public:
  // Copies `text`; every byte of `delimiters` becomes a delimiter.
  CTokenizer(const std::string& text, const std::string& delimiters);
  CTokenizer(const CTokenizer&) = delete;
  CTokenizer& operator=(const CTokenizer&) = delete;

  // Sets the flag of every byte of `delimiters`; never clears one.
  void AddDelimiters(const std::string& delimiters);

  // Puts the next token into `out` and returns true; at the end of the text
  // returns false with `out` empty, on this and every later call.
  bool Next(std::string& out);

 private:
  bool IsDelimiter(unsigned char byte) const {
    return (m_delimiters[byte >> 5] >> (byte & 31)) & 1u;
  }

  std::string m_text;
  uint32_t m_delimiters[8];
  int32_t m_cursor;
  // The delimiter byte when the set holds exactly one, else -1: splitting on
  // one byte (the only kind the system does) can then use memchr.
  int m_single;
};
