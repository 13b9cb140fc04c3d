# c-string.awk: the one function the table scripts share, given to awk
# beside each of them (-f c-string.awk -f usb-ids.awk).

# `text` as the inside of a C string literal.
function c_string(text,    i, c, result) {
    result = ""
    for (i = 1; i <= length(text); i++) {
        c = substr(text, i, 1)
        if (c == "\\" || c == "\"" || c == "?") result = result "\\"  # "?": never a trigraph
        result = result c
    }
    return result
}
