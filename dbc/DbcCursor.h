// The DBC reader's view of the text: one position and its line number, tokens read at it, and the one
// way to give up (ParseError, "expected X, found Y" at the current line). Every read checks the end of
// the text before it looks at a byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace dbc {

struct ParseError {
    int line;
    std::string what;
};

// A number as written, and how many digits after the point it has (0.25 -> 2, 5.96e-8 -> 10, 1e3 -> 0).
struct Number {
    double value = 0;
    int decimals = 0;
};

// DBC keywords: VERSION, FILTER and upper-case words that end in '_' (BO_, SIG_VALTYPE_, ...).
bool IsKeyword(std::string_view word);

class Cursor {
public:
    explicit Cursor(std::string_view text) : text_(text) {}

    int Line() const { return line_; }
    bool AtEnd() const { return at_ >= text_.size(); }
    char Peek() const { return at_ < text_.size() ? text_[at_] : '\0'; }
    std::size_t Position() const { return at_; }
    void Rewind(std::size_t at, int line) {
        at_ = at;
        line_ = line;
    }

    // Tokens are separated by blanks; a statement that may go on over several lines sets AcrossLines,
    // and newlines separate its tokens too.
    void AcrossLines(bool on) { acrossLines_ = on; }
    void SkipBlanks();
    void SkipSpace();  // blanks and newlines
    void Skip() { acrossLines_ ? SkipSpace() : SkipBlanks(); }
    // True at the end of the line (or of the text), blanks skipped.
    bool AtLineEnd();
    // Moves past the rest of the line, its newline included.
    void SkipLine();
    // Moves past a statement this reader does not read: to its ';' (quotes honoured), or to the next line
    // that starts with a keyword, whichever comes first.
    void SkipStatement();

    bool Accept(char c);
    void Expect(char c, const char *what);
    bool NextIsName();    // a name character follows (blanks skipped)
    bool NextIsNumber();  // a digit, or a sign or point and a digit, follows (blanks skipped)
    std::string_view Name(const char *what);  // [A-Za-z0-9_]+
    uint64_t Unsigned(const char *what);
    Number Real(const char *what);
    // A key of a value table: an integer (an unsigned one above INT64_MAX as its bit pattern); false for
    // a number that is not a whole one.
    bool TableKey(int64_t &key);
    // A quoted string with \" and \\ unescaped and CRLF made LF; opened on one line, it may close on a
    // later one. Made valid UTF-8 (Latin-1 where it was not UTF-8 already).
    std::string String(const char *what);

    [[noreturn]] void Fail(const std::string &expected) const { FailAt(at_, expected); }
    [[noreturn]] void FailAt(std::size_t at, const std::string &expected) const;
    [[noreturn]] void FailText(const std::string &what) const { throw ParseError{line_, what}; }

private:
    std::string_view NumberText(const char *what);

    std::string_view text_;
    std::size_t at_ = 0;
    int line_ = 1;
    bool acrossLines_ = false;
};

}  // namespace dbc
