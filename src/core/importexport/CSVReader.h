#pragma once
// The lexical layer of the login loader: comma-separated lines as RFC 4180 writes them,
// read leniently enough for the exports of other password managers.
//
//  - A field that begins with a double quote runs to the quote that is followed by a
//    comma, a line break or the end of the input; "" inside it is one quote, and line
//    breaks inside it belong to the field. A quote followed by anything else is kept as a
//    literal quote (older writers did not double them).
//  - The spreadsheet form ="text" is read as the quoted field "text".
//  - Backslashes are plain characters by default: escapes inside notes are resolved by
//    the loader, so a value that ends in a backslash cannot swallow its delimiter. Files
//    whose writer escapes every backslash and quote with a backslash (KeePass 1.x) are
//    read with backslashEscapes: a backslash then keeps the next character from ending
//    the field; both characters stay in the field for the loader to resolve.
//  - Lines end with LF, CRLF or CR; empty lines are skipped; a UTF-8 byte-order mark at
//    the start is dropped; a line that begins with '#' is a comment, not a line.
//  - A quoted field left open at the end of the input is a parse failure: the lines read
//    before it stay, the open line is dropped.
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace lumvane {

struct CSVReadResult {
    std::vector<std::vector<std::string>> lines;
    size_t comments = 0;
    bool failed = false;  // a quoted field was left open
};

class CSVReader {
  public:
    // Reads the whole text. Never throws for any input.
    static CSVReadResult read(std::string_view text, bool backslashEscapes = false);
};

// One value as RFC 4180 writes it: quoted, inner quotes doubled, when it holds a comma, a
// quote or a line break, or begins with something the reader treats specially at the
// start of a field, a line or the text ('#', '=', a UTF-8 byte-order mark); otherwise
// unchanged.
std::string csvQuoted(std::string_view value);
// Always enclosed in quotes, inner quotes doubled.
std::string csvAlwaysQuoted(std::string_view value);

}  // namespace lumvane
