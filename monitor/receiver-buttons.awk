# receiver-buttons.awk: the names of the receiver's own buttons, from
# receiver-buttons.txt, as a C++ table of all 256 codes (null where a code
# has no documented name).
#
#   LC_ALL=C awk -v out=ReceiverButtonsTable.cpp -f c-string.awk -f receiver-buttons.awk receiver-buttons.txt
#
# A line that is not "HH Name" in plain ASCII, or a code given twice, stops
# the build: the table must say exactly what the file says.

function fail(what) {
    printf("%s:%d: %s\n", FILENAME, FNR, what) > "/dev/stderr"
    failed = 1
    exit 1
}

/^#/ || /^[ \t]*$/ { next }

{
    if ($0 !~ /^[0-9A-F][0-9A-F] [ -~]+$/) fail("expected a code in two uppercase hex digits, a space and a name")
    code = index("0123456789ABCDEF", substr($0, 1, 1)) * 16 + index("0123456789ABCDEF", substr($0, 2, 1)) - 17
    if (code in name) fail("code " substr($0, 1, 2) " is given twice")
    name[code] = substr($0, 4)
}

END {
    if (failed) exit 1
    print "// Made by monitor/receiver-buttons.awk from receiver-buttons.txt; do not edit." > out
    print "#include \"ReceiverButtons.h\"\n" > out
    print "extern const char* const kReceiverButtonNames[256] = {" > out
    for (code = 0; code < 256; code++) {
        if (code in name) printf("    \"%s\",  // %02X\n", c_string(name[code]), code) > out
        else printf("    nullptr,\n") > out
    }
    print "};" > out
    close(out)
}
