// The MOF reader's lexer: the text's encoding (UTF-8 with or without a BOM,
// UTF-16 with a BOM, Windows-1252 when the text is not UTF-8) and its tokens
// (names, aliases, numbers, strings, characters, punctuation), each with the
// line and column it starts at, and the first refusal of a text as
// "<file>:<line>:<column>: <message>". Never compiled on Windows.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace posix_wmi {

enum class Tok {
  kEnd,
  kError,
  kName,
  kAlias,  // "$Name"; text holds the '$'
  kInt,
  kReal,
  kString,
  kChar,
  kPunct,
};

struct Token {
  Tok kind = Tok::kEnd;
  int line = 1;
  int col = 1;
  std::string_view text;  // as written
  bool negative = false;  // kInt
  uint64_t magnitude = 0;
  double real = 0;     // kReal
  std::u16string str;  // kString, kChar (one unit)
};

// Keeps the earliest refusal of one text: looking one token ahead can find a
// fault past the one the grammar is about to report.
class MofErrors {
 public:
  explicit MofErrors(std::string_view fileName) : fileName_(fileName) {}
  // Records the refusal unless an earlier one is kept; always false, so that
  // callers can return it. While the text is guarded (see Guard), `plain`
  // is recorded instead, a message that quotes nothing of the text; when
  // null, "expected a MOF declaration or pragma; the file is not MOF text".
  bool FailAt(int line, int col, const std::string& message,
              const std::string* plain = nullptr);
  // A file that someone else may have named is guarded until it has shown
  // itself to be MOF (a whole declaration or pragma read), so that naming a
  // secret file never brings its text into a message.
  void Guard(bool on) { guarded_ = on; }
  bool guarded() const { return guarded_; }
  bool failed() const { return !text_.empty(); }
  std::string_view fileName() const { return fileName_; }
  const std::string& text() const { return text_; }

 private:
  std::string_view fileName_;
  std::string text_;
  int line_ = 0;
  int col_ = 0;
  bool guarded_ = false;
};

// The text of a MOF file as UTF-8: `bytes` without its UTF-8 BOM, its UTF-16
// text after the BOM converted into `storage`, or, when the bytes are not
// UTF-8 and have no BOM, their Windows-1252 reading converted into `storage`.
// False, with the error recorded, on an unpaired surrogate or half a code
// unit at the end of UTF-16 text.
bool DecodeMofText(std::string_view bytes, std::string& storage,
                   std::string_view& text, MofErrors& errors);

// Tokens of a UTF-8 text, one look-ahead. A token of kind kError means the
// error is recorded; the lexer stays there.
class MofLexer {
 public:
  MofLexer(std::string_view text, MofErrors& errors)
      : text_(text), errors_(errors) {}

  const Token& Peek();
  Token Take();

 private:
  void Advance();
  bool At(size_t k, char c) const;
  bool SkipSpace();
  void Lex(Token& t);
  void LexNumber(Token& t);
  bool StartsNumber() const;
  bool LexCharacter(std::u16string& out);
  void LexString(Token& t);
  void LexChar(Token& t);
  // The lexer's messages quote nothing of the text but an unexpected
  // character, which it words for a guarded text itself.
  bool FailAt(int line, int col, const std::string& message) {
    return errors_.FailAt(line, col, message, &message);
  }
  bool Fail(const Token& at, const std::string& message) {
    return FailAt(at.line, at.col, message);
  }

  std::string_view text_;
  MofErrors& errors_;
  size_t pos_ = 0;
  int line_ = 1;
  int col_ = 1;
  bool peeked_ = false;
  Token next_;
};

}  // namespace posix_wmi
