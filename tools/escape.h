/*
 * Line escaping shared by the companion tools.
 *
 * Every received text becomes exactly one output line of printable ASCII:
 *   backslash -> \\    CR -> \r    LF -> \n    TAB -> \t
 *   any other byte below 0x20, 0x7F and every byte from 0x80 up -> \xHH
 * (two upper-case hex digits). Everything else is copied as it is, so the
 * original bytes can be restored exactly by the reader.
 */
#ifndef KST_TOOLS_ESCAPE_H
#define KST_TOOLS_ESCAPE_H

#include <stdio.h>

static void kst_put_escaped(FILE *out, const char *text, size_t length)
{
    static const char hex[] = "0123456789ABCDEF";
    size_t i;
    for (i = 0; i < length; ++i) {
        unsigned char c = (unsigned char)text[i];
        switch (c) {
        case '\\': fputs("\\\\", out); break;
        case '\r': fputs("\\r", out); break;
        case '\n': fputs("\\n", out); break;
        case '\t': fputs("\\t", out); break;
        default:
            if (c < 0x20 || c >= 0x7F) {
                fputc('\\', out);
                fputc('x', out);
                fputc(hex[c >> 4], out);
                fputc(hex[c & 15], out);
            } else {
                fputc(c, out);
            }
        }
    }
}

#endif
