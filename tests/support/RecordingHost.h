// A host for tests: its event trigger records every call.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "plugin/Exports.h"
#include "plugin/HostFunctions.h"

struct HostCall {
    bool hasText;
    std::string text;
    void* data;
    int flags;
    int deviceNumber;
    DWORD threadId;
};

int WINAPI RecordingTrigger(char* eventText, void* data, int flags, int deviceNumber);

// A well-formed record: size 112, the recording trigger, host data filled
// with a pattern.
HostFunctions RecordingHostFunctions();


// Runs on every trigger call, after the call is recorded: a host that does
// more in its trigger (stops capture, talks to its UI thread, is slow).
// Null for none.
void SetTriggerAction(void (*action)());

std::vector<HostCall> HostCalls();
std::vector<std::string> HostEventNames();
void ClearHostCalls();
// Waits until at least `count` calls arrived; false after `timeoutMs`.
bool WaitForHostCalls(size_t count, DWORD timeoutMs = 5000);

// Binds the recording host through the plug-in's gir_open (linked in) and
// forgets earlier calls.
inline void BindRecordingHost() {
    HostFunctions functions = RecordingHostFunctions();
    gir_open(0, 0, 0, &functions);
    ClearHostCalls();
}
