// The names of the keys in a HID report, as the sending device's own report
// descriptor lays them out.
//
// The same bytes mean different keys on different devices: "03 08" is one
// bit of a bitmap on one remote and an array code on another.  Only the
// device's descriptor says which, so the platform's parser reads each
// report (ReportParser.h) and this names what it read.  Everything here is
// a plain function of the report's bytes, the device's layout and the
// parser's answer.
#pragma once

#include <windows.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "capture/RawInputRecordCheck.h"

// A field of buttons in one input report: an array of codes or a bitmap.
struct ButtonField {
    BYTE reportId;
    unsigned short page;
    unsigned short first;  // its usages
    unsigned short last;
    // An array whose usages start at 0 ("no key"), read by a parser that
    // counts array values from 1 whatever the logical minimum (Wine's), so
    // that each usage it gives is one low.
    bool countsFromOne;
};

// What naming needs to know of a device's input reports.
struct ReportLayout {
    unsigned short page;  // the top-level collection
    unsigned short usage;
    DWORD reportLength;         // of every input report, report id included
    std::set<BYTE> reportIds;   // {0} for a device that numbers no reports
    std::vector<ButtonField> buttons;
};

// What the parser read in one report.
struct ReportContent {
    struct Usage {
        unsigned short page;
        unsigned short usage;
    };
    // One value under one usage, as the report holds it.
    struct Value {
        unsigned short page;
        unsigned short usage;
        unsigned long raw;
        unsigned bitSize;
        long logicalMin;
        long logicalMax;
        bool hasNull;
    };
    // Several values under one usage (a code of several bytes).
    struct ValueArray {
        unsigned short page;
        unsigned short usage;
        bool readable;
        std::vector<BYTE> bytes;
    };
    bool readable = true;  // false: the parser could not read its buttons
    std::vector<Usage> buttons;
    std::vector<Value> values;
    std::vector<ValueArray> valueArrays;
};

// Reads one report of the layout's length with the device's parser.
typedef std::function<void(const BYTE* report, DWORD size, ReportContent* content)> ReportReader;

// "Play/Pause", "Mute + Volume Increment" for two at once, "Media Center
// (receiver button 0D)" on the receiver's collection; empty for a report
// that holds no key (a release).  What cannot be named is said in
// parentheses: "(2-byte report; the device's are 3)", "(report id 07
// unknown to the device)".
std::string NameReport(const ReportLayout& layout, const BYTE* report, DWORD size,
                       const ReportReader& read);

// Every report of a HID record, apart by " | ".  A null layout is a device
// that could not be described.
std::string NameReports(const ReportLayout* layout, const HidReports& hid, const ReportReader& read);
