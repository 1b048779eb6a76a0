#include "output/printable.h"

#include "output/utf8.h"

namespace {

struct CodeRange {
    uint32_t first;
    uint32_t last;
};

const CodeRange ShownAsDotRanges[] = {
    {0x0000, 0x001F}, // C0 controls
    {0x007F, 0x009F}, // DEL and the C1 controls
    {0x2028, 0x2029}, // line and paragraph separators
    {0x202A, 0x202E}, // bidirectional embeddings and overrides
    {0x2066, 0x2069}, // bidirectional isolates
    {0xD800, 0xDFFF}, // surrogates that no pair joined
    {0xFEFF, 0xFEFF}, // byte order mark, zero width no-break space
};

bool IsSeparator(uint32_t code) {
    return code == '\\' || code == '/';
}

void AppendPrintable(std::string& out, uint32_t code, PrintAs as) {
    if (ShownAsDot(code, as))
        out += '.';
    else
        AppendUtf8(out, code);
}

// The length of the UTF-8 sequence at bytes[i] and its code point, or 0 when the
// bytes there are no valid sequence (overlong, a surrogate, past U+10FFFF, cut short).
size_t Utf8SequenceAt(const std::string& bytes, size_t i, uint32_t* code) {
    const auto byte = [&](size_t k) { return static_cast<uint8_t>(bytes[k]); };
    const uint8_t lead = byte(i);
    if (lead < 0x80) {
        *code = lead;
        return 1;
    }
    const size_t length = lead >= 0xF8   ? 0
                          : lead >= 0xF0 ? 4
                          : lead >= 0xE0 ? 3
                          : lead >= 0xC0 ? 2
                                         : 0;
    if (length == 0 || i + length > bytes.size())
        return 0;
    uint32_t value = lead & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
        value = value << 6 | (byte(i + k) & 0x3F);
    }
    static const uint32_t Smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < Smallest[length] || value > 0x10FFFF || IsSurrogate(value))
        return 0;
    *code = value;
    return length;
}

} // namespace

bool ShownAsDot(uint32_t code, PrintAs as) {
    if (as == PrintAs::FileName && IsSeparator(code))
        return true;
    if (code >= 0x20 && code < 0x7F) // most names are ASCII
        return false;
    for (const CodeRange& range : ShownAsDotRanges)
        if (code >= range.first && code <= range.last)
            return true;
    return false;
}

std::string PrintableUtf16(const uint8_t* units, size_t count, PrintAs as) {
    std::string text;
    size_t used = 1;
    for (size_t i = 0; i < count; i += used) {
        const uint32_t code = Utf16CodeAt(units, count, i, &used);
        if (code == 0 && as == PrintAs::Text)
            break;
        AppendPrintable(text, code, as);
    }
    return text;
}

std::string PrintableBytes(const std::string& bytes, PrintAs as) {
    std::string text;
    for (size_t i = 0; i < bytes.size();) {
        uint32_t code = 0;
        const size_t length = Utf8SequenceAt(bytes, i, &code);
        if (length == 0) {
            text += '.';
            ++i;
            continue;
        }
        if (code == 0 && as == PrintAs::Text)
            break;
        AppendPrintable(text, code, as);
        i += length;
    }
    return text;
}
