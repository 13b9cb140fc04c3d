#include "ReceiverButtons.h"

#include "Hex.h"

std::string ReceiverButtonName(unsigned char code) {
    std::string button = "receiver button " + Hex(code, 2);
    const char* name = kReceiverButtonNames[code];
    return name ? std::string(name) + " (" + button + ")" : button;
}
