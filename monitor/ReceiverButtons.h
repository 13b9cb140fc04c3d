// The receiver's own buttons: on its collection (usage page 0xFFBC, usage
// 0x88) each press is one code byte, and Microsoft names most codes.  The
// names come from receiver-buttons.txt, made into a table at build time.
#pragma once

#include <string>

// The documented name of each code; null where there is none.
extern const char* const kReceiverButtonNames[256];

// "Media Center (receiver button 0D)": the name with the code beside it, so
// that a user who reads either finds the other; "receiver button 3B" for a
// code with no documented name.
std::string ReceiverButtonName(unsigned char code);
