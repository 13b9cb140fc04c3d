# usb-ids.awk: the names kvo-monitor shows, taken from the USB ID Repository
# (usb.ids): vendor names, and the HID usage tables (its HUT section) of
# usage pages and usages.  Writes a C++ source of compact tables: every name
# once in one block of text, and for each id the offset of its name.
#
#   LC_ALL=C awk -v out=UsbIdsTable.cpp -f c-string.awk -f usb-ids.awk /usr/share/misc/usb.ids
#
# Plain POSIX awk (a fresh machine has mawk, and no python).  Names become
# plain ASCII: a console shows anything else in its own code page, so each
# UTF-8 sequence becomes one '?'.

function hex(digits,    i, c, value) {
    value = 0
    digits = tolower(digits)
    for (i = 1; i <= length(digits); i++) {
        c = index("0123456789abcdef", substr(digits, i, 1))
        if (c == 0) return -1
        value = value * 16 + c - 1
    }
    return value
}

function ascii(text,    i, c, code, result) {
    result = ""
    for (i = 1; i <= length(text); i++) {
        c = substr(text, i, 1)
        code = (c in byte_value) ? byte_value[c] : 0
        if (code >= 192) result = result "?"       # the first byte of a sequence
        else if (code < 128) result = result c     # continuation bytes go
    }
    return result
}

# The text after the id and its two spaces.
function name_of(line,    at) {
    at = index(line, "  ")
    return at ? ascii(substr(line, at + 2)) : ""
}

# Appends a name to the text block; returns its offset.
function add_name(text,    offset) {
    offset = text_size
    text_size += length(text) + 1
    names[++name_count] = text
    return offset
}

function add(table, page, id, text) {
    if (page < 0 || id < 0 || page > 65535 || id > 65535 || text == "") return
    entries[table, ++count[table]] = sprintf("    {0x%04X, 0x%04X, %du},", page, id, add_name(text))
}

function write_table(table, type,    i) {
    printf("extern const UsbIdsName %s[] = {\n", table) > out
    for (i = 1; i <= count[table]; i++) print entries[table, i] > out
    printf("};\nextern const unsigned %sCount = %d;\n\n", table, count[table]) > out
}

BEGIN {
    for (i = 128; i < 256; i++) byte_value[sprintf("%c", i)] = i
    section = "vendors"
    text_size = 0
    name_count = 0
    version = ""
    date = ""
}

/^# Version: / { version = $3 }
/^# Date: / { date = $3 " " $4 }
/^#/ || /^[ \t]*$/ { next }

# A section other than the vendors' begins with its keyword: "C 00  ...",
# "HUT 0c  Consumer".  Every line of usb.ids after the vendors is in one.
/^[A-Z]+ / {
    section = $1
    if (section == "HUT") {
        page = hex($2)
        add("kUsagePages", page, 0, name_of(substr($0, length($1) + 2)))
    }
    next
}

section == "HUT" && /^\t[0-9A-Fa-f]+  / {
    add("kUsages", page, hex($1), name_of(substr($0, 2)))
    next
}

section == "vendors" && /^[0-9a-f][0-9a-f][0-9a-f][0-9a-f]  / {
    add("kVendors", 0, hex($1), name_of($0))
    next
}

END {
    if (version == "") version = "unknown"
    if (date != "") version = version ", " date
    print "// Made by monitor/usb-ids.awk from usb.ids; do not edit." > out
    print "#include \"UsbIdsTable.h\"\n" > out
    printf("extern const char kUsbIdsVersion[] = \"%s\";\n\n", c_string(version)) > out
    print "extern const char kUsbIdsText[] =" > out
    for (i = 1; i <= name_count; i++) printf("    \"%s\\0\"\n", c_string(names[i])) > out
    print "    \"\";\n" > out
    write_table("kVendors")
    write_table("kUsagePages")
    write_table("kUsages")
    close(out)
}
