// Byte reader for the fuzz targets: takes values from the front of the input
// in order, so that seed files can be written by hand or by seeds.py, and
// gives zeros once the input runs out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

// Checks an expectation in every build type (the fuzz build defines NDEBUG).
#define FUZZ_CHECK(condition) \
  do {                        \
    if (!(condition)) {       \
      std::abort();           \
    }                         \
  } while (0)

class ByteReader {
 public:
  ByteReader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

  size_t Left() const { return m_size - m_pos; }

  uint8_t Byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }

  // Little-endian; missing bytes count as zero.
  uint64_t Bytes(size_t count) {
    uint64_t value = 0;
    for (size_t i = 0; i < count; ++i) {
      value |= static_cast<uint64_t>(Byte()) << (8 * i);
    }
    return value;
  }

  // Up to `count` bytes, fewer at the end of the input.
  std::string Text(size_t count) {
    if (count > Left()) count = Left();
    std::string text(reinterpret_cast<const char*>(m_data + m_pos), count);
    m_pos += count;
    return text;
  }

  std::string Rest() { return Text(Left()); }

 private:
  const uint8_t* m_data;
  size_t m_size;
  size_t m_pos = 0;
};
