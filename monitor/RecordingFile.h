// The file --record writes (its lines are ReplayFile.h's), written so that
// nothing is lost without a word:
//  - it is written to a temporary file beside the one asked for (FILE.part),
//    which takes that one's place only at the end of a capture that
//    started, so a run that never captures leaves an existing file as it
//    was, and a crash leaves what was recorded in FILE.part;
//  - every write is checked, each line goes to the system as it is
//    written, and on the first failure the recording stops (capture and
//    the console go on), one line says why in Windows' words, and the end
//    reports it.
#pragma once

#include <windows.h>

#include <string>

class RecordingFile {
public:
    ~RecordingFile() { Discard(); }

    // Makes the temporary file; false with `error` if it cannot.
    bool Open(const std::string& path, std::string* error);
    bool IsOpen() const { return file_ != INVALID_HANDLE_VALUE; }
    const std::string& Path() const { return path_; }

    // Writes the text whole, or stops the recording, saying so once on
    // standard error.
    void Write(const std::string& text);

    // Puts the recording in place of the file asked for; false (said on
    // standard error) if a write failed or it cannot be put there.
    bool Commit();

    // Removes the temporary file; the file asked for stays as it was.
    void Discard();

private:
    bool Fail(const char* what, DWORD error);

    std::string path_;
    std::string temporary_;
    HANDLE file_ = INVALID_HANDLE_VALUE;
    bool failed_ = false;
};

// "There is not enough space on the disk. (error 112)": Windows' words for
// an error, and its number.
std::string WindowsError(DWORD error);
