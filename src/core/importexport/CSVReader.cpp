#include "core/importexport/CSVReader.h"

namespace lumvane {

namespace {

constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

bool isLineBreak(char c) {
    return c == '\n' || c == '\r';
}

}  // namespace

CSVReadResult CSVReader::read(std::string_view text, bool backslashEscapes) {
    CSVReadResult result;
    if (text.starts_with(kUtf8ByteOrderMark)) text.remove_prefix(kUtf8ByteOrderMark.size());
    const size_t n = text.size();
    size_t i = 0;
    auto skipLineBreak = [&] {
        if (i < n && text[i] == '\r') ++i;
        if (i < n && text[i] == '\n') ++i;
    };
    while (i < n) {
        // At the start of a line.
        if (isLineBreak(text[i])) {
            skipLineBreak();
            continue;
        }
        if (text[i] == '#') {
            while (i < n && !isLineBreak(text[i])) ++i;
            ++result.comments;
            skipLineBreak();
            continue;
        }
        std::vector<std::string> line;
        bool lineDone = false;
        while (!lineDone) {
            std::string field;
            bool quoted = false;
            if (i < n && text[i] == '"') {
                quoted = true;
                ++i;
            } else if (i + 1 < n && text[i] == '=' && text[i + 1] == '"') {
                quoted = true;
                i += 2;
            }
            if (quoted) {
                bool closed = false;
                while (i < n) {
                    char c = text[i];
                    if (backslashEscapes && c == '\\' && i + 1 < n) {
                        field.push_back(c);
                        field.push_back(text[i + 1]);
                        i += 2;
                        continue;
                    }
                    if (c != '"') {
                        field.push_back(c);
                        ++i;
                        continue;
                    }
                    if (i + 1 < n && text[i + 1] == '"') {
                        field.push_back('"');
                        i += 2;
                        continue;
                    }
                    if (i + 1 == n || text[i + 1] == ',' || isLineBreak(text[i + 1])) {
                        ++i;
                        closed = true;
                        break;
                    }
                    field.push_back('"');
                    ++i;
                }
                if (!closed) {
                    result.failed = true;
                    return result;
                }
            } else {
                while (i < n && text[i] != ',' && !isLineBreak(text[i])) {
                    if (backslashEscapes && text[i] == '\\' && i + 1 < n)
                        field.push_back(text[i++]);
                    field.push_back(text[i++]);
                }
            }
            line.push_back(std::move(field));
            if (i < n && text[i] == ',') {
                ++i;
                continue;
            }
            lineDone = true;
        }
        skipLineBreak();
        result.lines.push_back(std::move(line));
    }
    return result;
}

std::string csvAlwaysQuoted(std::string_view value) {
    std::string out;
    out.reserve(value.size() + 2);
    out.push_back('"');
    for (char c : value) {
        if (c == '"') out.push_back('"');
        out.push_back(c);
    }
    out.push_back('"');
    return out;
}

std::string csvQuoted(std::string_view value) {
    // The reader drops a byte-order mark at the start of the text, so a value that begins
    // with one is quoted to keep the mark when it ends up first in the file.
    bool needs = !value.empty() && (value.front() == '#' || value.front() == '=' ||
                                    value.starts_with(kUtf8ByteOrderMark));
    for (char c : value) {
        if (c == ',' || c == '"' || c == '\n' || c == '\r') {
            needs = true;
            break;
        }
    }
    return needs ? csvAlwaysQuoted(value) : std::string(value);
}

}  // namespace lumvane
