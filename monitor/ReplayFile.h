// Recorded raw input messages, one per line of a text file:
//
//   # a comment; blank lines are ignored, and so is '#' to the end of a line
//   hid SIZE COUNT BYTES...   COUNT reports of SIZE bytes, BYTES in hex
//   keyboard                  a keyboard message
//   mouse                     a mouse message
//
// BYTES are hex pairs, alone ("01 CD 00") or run together ("01CD00"); there
// must be exactly SIZE x COUNT of them.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct ReplayMessage {
    int line;                 // where it stands in the file
    std::vector<BYTE> record;  // as GetRawInputData would return it
};

// Parses the whole text.  On the first bad line returns false with `error`
// as "NAME:LINE: what is wrong", and `messages` untouched.
bool ParseReplay(const std::string& text, const std::string& name,
                 std::vector<ReplayMessage>* messages, std::string* error);

bool ReadReplayFile(const std::string& path, std::vector<ReplayMessage>* messages,
                    std::string* error);
