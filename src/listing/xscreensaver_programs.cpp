// Reading and editing the programs list of an XScreenSaver init file: a
// scan that maps every entry back to its bytes in the file, and edits that
// insert or erase only those bytes. Standard library only.
#include "listing/xscreensaver_programs.h"

#include <cctype>
#include <cstddef>
#include <vector>

#include "support/translation.h"

namespace {

constexpr int kTabWidth = 8;
// The settings program puts each command at column 32 and each entry's
// closing ` \n` at column 75.
constexpr int kCommandColumn = 32;
constexpr int kEndColumn = 75;
const char kVisual[] = "  GL: ";
const char kPrettyName[] = "\"Mereglass\"";
const char kHackOption[] = " --root";

bool Blank(char c) { return c == ' ' || c == '\t'; }
bool Space(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// The column after `text`, with a tab stop every 8 columns.
int Columns(std::string_view text) {
    int column = 0;
    for (char c : text) column = c == '\t' ? (column / kTabWidth + 1) * kTabWidth : column + 1;
    return column;
}

// Pads `line` to `column` with tabs, then spaces, as the settings program
// does; a line already that long is left as it is.
void PadTo(std::string* line, int column) {
    int at = Columns(*line);
    const int lastStop = column / kTabWidth * kTabWidth;
    while (at < lastStop) {
        *line += '\t';
        at = (at / kTabWidth + 1) * kTabWidth;
    }
    while (at < column) {
        *line += ' ';
        ++at;
    }
}

// Bytes that a shell takes as part of a word without quotes.
bool PlainPathByte(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 ||
           std::string_view("/._+,:@%=-").find(c) != std::string_view::npos;
}

// A path the list can hold: single quotes carry it past the shell, so it
// may not contain one, nor a backslash (an escape in the resource), nor a
// control character.
bool ListablePath(const std::string& path) {
    if (path.empty()) return false;
    for (char c : path) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\'' || c == '\\' || u < 0x20 || u == 0x7f) return false;
    }
    return true;
}

std::string ShellWord(const std::string& path) {
    for (char c : path) {
        if (!PlainPathByte(c)) return "'" + path + "'";
    }
    return path;
}

// The first word of a command, without the quotes around it.
std::string FirstWord(std::string_view command) {
    if (!command.empty() && (command[0] == '\'' || command[0] == '"')) {
        const size_t close = command.find(command[0], 1);
        return std::string(command.substr(1, close == std::string_view::npos ? close : close - 1));
    }
    size_t end = 0;
    while (end < command.size() && !Space(command[end])) ++end;
    return std::string(command.substr(0, end));
}

// The command of an entry names this program: its full path, or its bare
// file name, which the daemon finds in its own hack folder.
bool IsThisProgram(const std::string& word, const std::string& program) {
    if (word == program) return true;
    if (word.empty() || word.find('/') != std::string::npos) return false;
    const size_t slash = program.rfind('/');
    return program.compare(slash == std::string::npos ? 0 : slash + 1, std::string::npos, word) ==
           0;
}

// Text as the daemon takes it: no NUL bytes and no control characters
// other than white space.
bool IsText(std::string_view text) {
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && !Space(c)) || u == 0x7f) return false;
    }
    return true;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

// The name of the list: `programs` in the user's file; in the app-defaults
// file `*programs`, `XScreenSaver.programs` or `XScreenSaver*programs`.
bool IsProgramsKey(std::string_view key, bool systemFile) {
    if (systemFile) {
        constexpr std::string_view kClass = "XScreenSaver";
        if (key.size() > kClass.size() &&
            EqualsIgnoringCase(key.substr(0, kClass.size()), kClass)) {
            key.remove_prefix(kClass.size());
        }
        if (key.empty() || (key[0] != '*' && key[0] != '.')) return false;
        key.remove_prefix(1);
    }
    return EqualsIgnoringCase(key, "programs");
}

// One entry of the list. Offsets are into the file's text.
struct Entry {
    bool enabled = true;
    size_t disableMark = 0;  // its '-', when disabled
    std::string program;     // the first word of its command
    size_t pieceBegin = 0;   // just after the `\n` before it, or the value's start
    size_t begin = 0;        // its first character that is not white space
    bool hasSeparator = false;
    size_t separatorEnd = 0;  // just after its own `\n`
};

// The programs resource. Offsets are into the file's text.
struct Resource {
    size_t valueBegin = 0;  // just after the ':'
    size_t valueEnd = 0;    // the newline that ends the value, or the end of the text
    bool hasSeparator = false;
    size_t lastSeparatorEnd = 0;  // just after the value's last `\n`
    bool tailBlank = true;        // only white space after that (or in the whole value)
    std::vector<Entry> entries;
};

struct Scan {
    bool found = false;
    Resource programs;  // the last programs resource, which the daemon uses
};

// An entry from its decoded text; `at` maps each character to its offset.
Entry ParseEntry(const std::string& piece, const std::vector<size_t>& at, size_t first) {
    Entry e;
    size_t k = first;
    const size_t n = piece.size();
    auto skipSpace = [&] {
        while (k < n && Space(piece[k])) ++k;
    };
    e.begin = at[k];
    if (piece[k] == '-') {
        e.enabled = false;
        e.disableMark = at[k];
        ++k;
        skipSpace();
    }
    size_t visual = k;
    while (visual < n && piece[visual] != ':' && piece[visual] != '"' && !Space(piece[visual])) {
        ++visual;
    }
    if (visual < n && piece[visual] == ':') {
        k = visual + 1;
        skipSpace();
    }
    if (k < n && piece[k] == '"') {
        ++k;
        while (k < n && piece[k] != '"') ++k;
        if (k < n) ++k;
        skipSpace();
    }
    e.program = FirstWord(std::string_view(piece).substr(k));
    return e;
}

// Splits a value (from just after its ':') into entries at its `\n`
// escapes, as the daemon does after joining the lines.
Resource ParseValue(const std::string& joined, const std::vector<size_t>& at, size_t colon,
                    size_t valueEnd) {
    Resource r;
    r.valueBegin = at[colon] + 1;
    r.valueEnd = valueEnd;
    std::string piece;
    std::vector<size_t> pieceAt;
    size_t pieceBegin = r.valueBegin;

    auto finish = [&](bool separator, size_t separatorEnd) {
        size_t first = 0;
        while (first < piece.size() && Space(piece[first])) ++first;
        const bool blank = first == piece.size();
        if (!blank) {
            Entry e = ParseEntry(piece, pieceAt, first);
            e.pieceBegin = pieceBegin;
            e.hasSeparator = separator;
            e.separatorEnd = separatorEnd;
            r.entries.push_back(e);
        }
        if (separator) {
            r.hasSeparator = true;
            r.lastSeparatorEnd = separatorEnd;
        } else {
            r.tailBlank = blank;
        }
        piece.clear();
        pieceAt.clear();
        pieceBegin = separatorEnd;
    };

    for (size_t j = colon + 1; j < joined.size(); ++j) {
        char c = joined[j];
        const size_t raw = at[j];
        if (c == '\\' && j + 1 < joined.size()) {
            ++j;
            if (joined[j] == 'n') {
                finish(true, at[j] + 1);
                continue;
            }
            c = joined[j] == 't' ? '\t' : joined[j] == 'r' ? '\r' : joined[j];
        }
        piece += c;
        pieceAt.push_back(raw);
    }
    finish(false, valueEnd);
    return r;
}

// The bytes that end the line whose newline is at `nl`: "\r\n" or "\n".
// Where they begin.
size_t TerminatorAt(std::string_view text, size_t nl) {
    return nl > 0 && text[nl - 1] == '\r' ? nl - 1 : nl;
}

// An odd run of backslashes ends just before `at`: the last of them is not
// escaped by the one before it, so it escapes what follows.
bool OddBackslashesBefore(std::string_view text, size_t at) {
    size_t run = 0;
    while (at > run && text[at - run - 1] == '\\') ++run;
    return run % 2 == 1;
}

// The end of the logical line that starts at `pos`: physical lines joined
// where one ends in a backslash that is not itself escaped (before "\n" or
// "\r\n"). The end is where the last line's terminator begins; *next is
// just after it. *runsOut: the last of them goes on past the end of the
// text.
size_t LogicalLineEnd(std::string_view text, size_t pos, size_t* next, bool* runsOut) {
    size_t end = pos;
    *runsOut = false;
    for (;;) {
        const size_t nl = text.find('\n', end);
        if (nl == std::string_view::npos) {
            *runsOut = text.size() > end && OddBackslashesBefore(text, text.size());
            *next = text.size();
            return text.size();
        }
        const size_t terminator = TerminatorAt(text, nl);
        if (terminator > end && OddBackslashesBefore(text, terminator)) {
            end = nl + 1;
            if (end == text.size()) {
                *runsOut = true;
                *next = end;
                return end;
            }
            continue;
        }
        *next = nl + 1;
        return terminator;
    }
}

// The logical line's text without its backslash-newlines, and for each of
// its characters the offset in `text` it came from. Escapes stay in as
// pairs, so that an escaped backslash is never taken for a continuation.
void JoinLine(std::string_view text, size_t pos, size_t end, std::string* joined,
              std::vector<size_t>* at) {
    for (size_t i = pos; i < end; ++i) {
        if (text[i] == '\\') {
            size_t after = i + 1;
            if (after + 1 < text.size() && text[after] == '\r' && text[after + 1] == '\n') ++after;
            if (after < text.size() && text[after] == '\n') {
                i = after;
                continue;
            }
            *joined += text[i];
            at->push_back(i);
            if (i + 1 == end) break;
            ++i;
        }
        *joined += text[i];
        at->push_back(i);
    }
}

// The colon of a line that sets the programs resource, else npos. Comment
// lines start with '#', '!' or ';'.
size_t ProgramsColon(const std::string& joined, bool systemFile) {
    size_t first = 0;
    while (first < joined.size() && Space(joined[first])) ++first;
    const size_t colon = joined.find(':', first);
    if (first >= joined.size() ||
        std::string_view("#!;").find(joined[first]) != std::string::npos ||
        colon == std::string::npos) {
        return std::string::npos;
    }
    size_t keyEnd = colon;
    while (keyEnd > first && Space(joined[keyEnd - 1])) --keyEnd;
    if (!IsProgramsKey(std::string_view(joined).substr(first, keyEnd - first), systemFile)) {
        return std::string::npos;
    }
    return colon;
}

// Finds the programs resource of a file. False, with a reason, for a file
// that is not text or whose programs value runs past its end.
bool ScanFile(std::string_view text, bool systemFile, Scan* out, std::string* error) {
    *out = Scan{};
    if (!IsText(text)) {
        *error = _("it is not a text file");
        return false;
    }
    size_t pos = 0;
    while (pos < text.size()) {
        bool runsOut = false;
        size_t next = 0;
        const size_t end = LogicalLineEnd(text, pos, &next, &runsOut);
        std::string joined;
        std::vector<size_t> at;
        JoinLine(text, pos, end, &joined, &at);
        const size_t colon = ProgramsColon(joined, systemFile);
        if (colon != std::string::npos) {
            if (runsOut) {
                *error = _("its programs value runs past the end of the file");
                return false;
            }
            out->found = true;
            out->programs = ParseValue(joined, at, colon, end);
        }
        pos = next;
    }
    return true;
}

// The file's last line goes on past its end (a backslash at the very end,
// before its last newline or none).
bool EndsInContinuation(std::string_view text) {
    size_t end = text.size();
    if (end > 0 && text[end - 1] == '\n') end = TerminatorAt(text, end - 1);
    return OddBackslashesBefore(text, end);
}

// The file's line ending, as its first line ends: "\r\n" or "\n".
std::string LineEnding(std::string_view text) {
    const size_t nl = text.find('\n');
    return nl != std::string_view::npos && TerminatorAt(text, nl) != nl ? "\r\n" : "\n";
}

// `lines` with each bare "\n" written as `eol`.
std::string WithLineEnding(std::string_view lines, const std::string& eol) {
    std::string out;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i] == '\n' && TerminatorAt(lines, i) == i) {
            out += eol;
        } else {
            out += lines[i];
        }
    }
    return out;
}

// Adds the entry to a file whose programs resource `r` has none of it. Its
// lines end as the file's do.
std::string InsertEntry(std::string text, const Resource& r, const std::string& program) {
    const std::string entry = ProgramsEntryText(program);
    const std::string eol = LineEnding(text);
    size_t at = r.valueEnd;
    std::string insert;
    // The line after which the entry goes, when the value goes on past it.
    const size_t after = r.hasSeparator ? r.lastSeparatorEnd : r.valueBegin;
    const size_t nl = text.find('\n', after);
    if (!r.tailBlank) {
        // The last entry has no `\n` of its own: give it one.
        insert = " \\n\\" + eol + entry;
    } else if (nl != std::string::npos && nl < r.valueEnd) {
        at = nl + 1;
        insert = entry + "\\" + eol;
    } else {
        // The value ends on this line: the entry becomes its last line.
        insert = (r.hasSeparator ? "\\" : " \\") + eol + entry;
    }
    if (at == text.size()) insert += eol;
    text.insert(at, insert);
    return text;
}

// A span of the file's bytes that a removal takes out.
struct Cut {
    size_t begin = 0;
    size_t end = 0;
};

// The bytes that take entry `index` out: its whole line when it has one to
// itself, else its bytes from the `\n` before it (to the value's end when
// no entry after it stays). `cuts` are the spans taken out after it
// already, the lowest last; the file reads as if they were gone.
Cut EntryCut(std::string_view text, const Resource& r, size_t index, const std::vector<Cut>& cuts,
             bool laterStays) {
    const Entry& e = r.entries[index];
    const size_t nl = e.begin == 0 ? std::string::npos : text.rfind('\n', e.begin - 1);
    const size_t lineStart = nl == std::string::npos ? 0 : nl + 1;
    bool ownLine = lineStart > r.valueBegin;
    for (size_t k = lineStart; ownLine && k < e.begin; ++k) ownLine = Blank(text[k]);
    if (e.hasSeparator && ownLine) {
        // After its `\n`, past what is cut already: blanks, then the
        // backslash-newline that ends its line.
        size_t k = e.separatorEnd;
        size_t next = cuts.size();
        auto skipCuts = [&] {
            while (next > 0 && cuts[next - 1].begin == k) k = cuts[--next].end;
        };
        skipCuts();
        while (k < r.valueEnd && Blank(text[k])) {
            ++k;
            skipCuts();
        }
        size_t after = k + 1;
        if (after + 1 < r.valueEnd && text[after] == '\r' && text[after + 1] == '\n') ++after;
        if (after < r.valueEnd && text[k] == '\\' && text[after] == '\n' &&
            (next == 0 || cuts[next - 1].begin > after)) {
            return {lineStart, after + 1};
        }
    }
    return {e.pieceBegin, laterStays ? e.separatorEnd : r.valueEnd};
}

}  // namespace

std::string ProgramsEntryText(const std::string& program) {
    std::string line = kVisual;
    PadTo(&line, kCommandColumn - static_cast<int>(sizeof kPrettyName - 1) - 2);
    line += kPrettyName;
    line += ' ';
    PadTo(&line, kCommandColumn);
    line += ShellWord(program) + kHackOption;
    PadTo(&line, kEndColumn);
    return line + " \\n";
}

bool AddProgramsEntry(std::string_view userFile, std::optional<std::string_view> systemDefaults,
                      const std::string& program, ProgramsEdit* out, std::string* error) {
    if (!ListablePath(program)) {
        *error = _("the program's path has a quote, a backslash or a control character");
        return false;
    }
    Scan scan;
    if (!ScanFile(userFile, false, &scan, error)) return false;
    std::string text(userFile);
    if (!scan.found) {
        // A copy of the system's list, so that every saver stays listed.
        if (EndsInContinuation(userFile)) {
            *error = _("its last line runs past the end of the file");
            return false;
        }
        Scan system;
        std::string systemError;
        if (!systemDefaults || !ScanFile(*systemDefaults, true, &system, &systemError) ||
            !system.found) {
            *error = _("it has no programs list, and the system's list cannot be read");
            return false;
        }
        const std::string eol = LineEnding(text);
        if (!text.empty() && text.back() != '\n') text += eol;
        if (!text.empty()) text += eol;
        text += "programs:";
        text += WithLineEnding(
            systemDefaults->substr(system.programs.valueBegin,
                                   system.programs.valueEnd - system.programs.valueBegin),
            eol);
        text += eol;
        if (!ScanFile(text, false, &scan, error)) return false;
    }

    const Resource& r = scan.programs;
    const Entry* disabled = nullptr;
    for (const Entry& e : r.entries) {
        if (!IsThisProgram(e.program, program)) continue;
        if (e.enabled) {
            out->change = ProgramsChange::AlreadyListed;
            out->text = std::string(userFile);
            return true;
        }
        if (disabled == nullptr) disabled = &e;
    }
    if (disabled != nullptr) {
        // `- GL:` becomes `  GL:`: the same columns, as the settings
        // program writes an enabled entry.
        text[disabled->disableMark] = ' ';
        out->change = ProgramsChange::Enabled;
    } else {
        text = InsertEntry(std::move(text), r, program);
        out->change = ProgramsChange::Added;
    }
    out->text = std::move(text);
    return true;
}

bool RemoveProgramsEntry(std::string_view userFile, const std::string& program, ProgramsEdit* out,
                         std::string* error) {
    Scan scan;
    if (!ScanFile(userFile, false, &scan, error)) return false;
    out->change = ProgramsChange::NotListed;
    // From the last entry to the first, so that each cut sees those after
    // it made already; then the file is copied once without them.
    const Resource& r = scan.programs;
    std::vector<Cut> cuts;  // the lowest last
    bool laterStays = false;
    for (size_t index = r.entries.size(); index-- > 0;) {
        if (!IsThisProgram(r.entries[index].program, program)) {
            laterStays = true;
            continue;
        }
        const Cut cut = EntryCut(userFile, r, index, cuts, laterStays);
        while (!cuts.empty() && cuts.back().begin < cut.end) cuts.pop_back();
        cuts.push_back(cut);
        out->change = ProgramsChange::Removed;
    }
    std::string text;
    text.reserve(userFile.size());
    size_t from = 0;
    for (size_t k = cuts.size(); k-- > 0;) {
        text.append(userFile.substr(from, cuts[k].begin - from));
        from = cuts[k].end;
    }
    text.append(userFile.substr(from));
    out->text = std::move(text);
    return true;
}
