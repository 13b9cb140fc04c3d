#include "ReplayFile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "Hex.h"
#include "RawInputRecords.h"

// A generous bound on one message; real HID reports are a few dozen bytes.
static const unsigned long kMaximumReportBytes = 65536;

static bool ParseCount(const std::string& word, unsigned long* value) {
    if (word.empty() || word.find_first_not_of("0123456789") != std::string::npos) return false;
    errno = 0;
    *value = std::strtoul(word.c_str(), nullptr, 10);
    return errno == 0 && *value <= kMaximumReportBytes;
}

static int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

static bool ParseHexWord(const std::string& word, std::vector<BYTE>* bytes, std::string* error) {
    if (word.size() % 2 != 0) {
        *error = "'" + word + "' is not whole bytes: write each byte as two hex digits";
        return false;
    }
    for (size_t i = 0; i < word.size(); i += 2) {
        int high = HexValue(word[i]), low = HexValue(word[i + 1]);
        if (high < 0 || low < 0) {
            *error = "'" + word + "' is not hexadecimal";
            return false;
        }
        bytes->push_back(static_cast<BYTE>(high * 16 + low));
    }
    return true;
}

static bool ParseHidLine(std::istringstream& words, std::vector<BYTE>* record,
                         std::string* error) {
    std::string sizeWord, countWord;
    unsigned long size = 0, count = 0;
    if (!(words >> sizeWord >> countWord)) {
        *error = "'hid' needs SIZE and COUNT before the report bytes";
        return false;
    }
    if (!ParseCount(sizeWord, &size) || !ParseCount(countWord, &count) ||
        (count != 0 && size > kMaximumReportBytes / count)) {
        *error = "SIZE and COUNT must be whole numbers whose product is at most 65536";
        return false;
    }
    std::vector<BYTE> reports;
    for (std::string word; words >> word;)
        if (!ParseHexWord(word, &reports, error)) return false;
    if (reports.size() != size * count) {
        *error = "expected " + std::to_string(size * count) + " report bytes (" +
                 std::to_string(size) + " x " + std::to_string(count) + "), found " +
                 std::to_string(reports.size());
        return false;
    }
    *record = HidRecord(static_cast<DWORD>(size), static_cast<DWORD>(count), reports);
    return true;
}

// The text of a quoted NAMES, from its opening quote; `end` is set past the
// closing one.  A console would act on control characters, so those and
// anything past ASCII become '?'.
static bool ParseNames(const std::string& text, size_t start, size_t* end, std::string* names,
                       std::string* error) {
    names->clear();
    for (size_t i = start + 1; i < text.size(); ++i) {
        char c = text[i];
        if (c == '"') {
            *end = i + 1;
            return true;
        }
        if (c == '\\' && i + 1 < text.size()) c = text[++i];
        *names += (c >= 0x20 && c < 0x7F) ? c : '?';
    }
    *error = "the names have no closing '\"'";
    return false;
}

static bool ParseLine(const std::string& line, bool* empty, ReplayMessage* message,
                      std::string* error) {
    // A '#' inside the quoted names is part of a name ("3 and #").
    size_t quote = line.find('"');
    size_t comment = line.find('#');
    size_t end = std::string::npos;
    bool named = quote != std::string::npos && (comment == std::string::npos || quote < comment);
    if (named) {
        if (!ParseNames(line, quote, &end, &message->names, error)) return false;
        size_t after = line.find_first_not_of(" \t", end);
        if (after != std::string::npos && line[after] != '#') {
            *error = "only a comment may follow the names";
            return false;
        }
    }
    std::istringstream words(line.substr(0, named ? quote : comment));
    std::string kind;
    *empty = !(words >> kind);
    if (*empty) {
        if (!named) return true;
        *error = "names without a message";
        return false;
    }
    if (kind == "hid") return ParseHidLine(words, &message->record, error);
    if (kind == "keyboard" || kind == "mouse") {
        message->record = kind == "keyboard" ? KeyboardRecord() : MouseRecord();
        std::string extra;
        if (named || words >> extra) {
            *error = "'" + kind + "' takes nothing after it";
            return false;
        }
        return true;
    }
    *error = "unknown message kind '" + kind + "' (expected hid, keyboard or mouse)";
    return false;
}

std::string QuoteNames(const std::string& names) {
    std::string quoted = "\"";
    for (char c : names) {
        if (c == '"' || c == '\\') quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

std::string MessageLine(RawInputRecordKind kind, const HidReports& hid, const std::string& names) {
    if (kind == kKeyboardRecord) return "keyboard";
    if (kind == kMouseRecord) return "mouse";
    if (kind != kHidRecord) return std::string();
    std::string line = "hid " + std::to_string(hid.size) + " " + std::to_string(hid.count);
    for (DWORD i = 0; i < hid.count; ++i) line += (i == 0 ? " " : "  ") + HexBytes(hid.Report(i), hid.size, " ");
    return names.empty() ? line : line + " " + QuoteNames(names);
}

std::string RecordingHeader(const std::string& plugin, const std::string& version) {
    return "# Raw input messages that " + plugin + " " + version +
           " received, recorded by kvo-monitor.\n"
           "# Replay:  kvo-monitor --replay THIS-FILE\n"
           "# After each message: the event it gave (\"none\" and why if it gave none),\n"
           "# milliseconds since capture started, and the device that sent it.\n\n";
}

std::string RecordingLine(const std::string& message, const std::string& event, const std::string& why,
                          double ms, const std::string& device, bool ignored) {
    if (message.empty() && !ignored) return std::string();
    std::vector<char> text(message.size() + why.size() + event.size() + device.size() + 128);
    if (ignored)
        std::snprintf(text.data(), text.size(), "# ignored: %s  (%s)  at %.3f ms  from %s\n", message.c_str(),
                      why.c_str(), ms, device.c_str());
    else
        std::snprintf(text.data(), text.size(), "%-36s # -> %s  at %.3f ms  from %s\n", message.c_str(),
                      event.empty() ? ("none (" + why + ")").c_str() : event.c_str(), ms, device.c_str());
    return text.data();
}

bool ParseReplay(const std::string& text, const std::string& name,
                 std::vector<ReplayMessage>* messages, std::string* error) {
    std::vector<ReplayMessage> parsed;
    std::istringstream lines(text);
    int number = 0;
    for (std::string line; std::getline(lines, line);) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        bool empty = false;
        ReplayMessage message;
        message.line = number;
        std::string what;
        if (!ParseLine(line, &empty, &message, &what)) {
            *error = name + ":" + std::to_string(number) + ": " + what;
            return false;
        }
        if (!empty) parsed.push_back(message);
    }
    messages->swap(parsed);
    return true;
}

bool ReadReplayFile(const std::string& path, std::vector<ReplayMessage>* messages,
                    std::string* error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        *error = path + ": cannot open the file";
        return false;
    }
    std::ostringstream text;
    text << file.rdbuf();
    return ParseReplay(text.str(), path, messages, error);
}
