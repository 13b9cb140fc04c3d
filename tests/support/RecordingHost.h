// A host for tests: its event trigger records every call.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

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

// Binds the recording host through gir_open and forgets earlier calls.
void BindRecordingHost();

std::vector<HostCall> HostCalls();
std::vector<std::string> HostEventNames();
void ClearHostCalls();
// Waits until at least `count` calls arrived; false after `timeoutMs`.
bool WaitForHostCalls(size_t count, DWORD timeoutMs = 5000);
