#include "lib/Logging/QZEFormat.hpp"

#include <cstdio>

namespace qz {

namespace {

std::string printfOne(const std::string& conversion, auto value) {
    char buf[128];
    int n = std::snprintf(buf, sizeof buf, conversion.c_str(), value);
    if (n < 0) return {};
    if (static_cast<size_t>(n) < sizeof buf) return std::string(buf, static_cast<size_t>(n));
    std::string out(static_cast<size_t>(n) + 1, '\0');
    std::snprintf(out.data(), out.size(), conversion.c_str(), value);
    out.resize(static_cast<size_t>(n));
    return out;
}

std::string argText(const FormatArg& a) {
    switch (a.kind) {
        case FormatArg::Kind::text:
            return a.text;
        case FormatArg::Kind::integer:
            return std::to_string(a.integer);
        case FormatArg::Kind::unsignedInteger:
            return std::to_string(a.unsignedInteger);
        case FormatArg::Kind::real:
            return printfOne("%g", a.real);
        case FormatArg::Kind::null:
            return "(null)";
    }
    return {};
}

}  // namespace

std::string formatArgs(std::string_view format, const std::vector<FormatArg>& args) {
    std::string out;
    size_t next = 0;
    size_t i = 0;
    while (i < format.size()) {
        char c = format[i];
        if (c != '%') {
            out += c;
            ++i;
            continue;
        }
        size_t start = i++;
        std::string flags;
        while (i < format.size() &&
               std::string_view("-+ #0").find(format[i]) != std::string_view::npos)
            flags += format[i++];
        std::string width;
        while (i < format.size() && format[i] >= '0' && format[i] <= '9') width += format[i++];
        std::string precision;
        if (i < format.size() && format[i] == '.') {
            precision += format[i++];
            while (i < format.size() && format[i] >= '0' && format[i] <= '9')
                precision += format[i++];
        }
        while (i < format.size() &&
               std::string_view("hlqLzjt").find(format[i]) != std::string_view::npos)
            ++i;
        if (i >= format.size()) {
            out.append(format.substr(start));
            break;
        }
        char conv = format[i++];
        if (conv == '%') {
            out += '%';
            continue;
        }
        const FormatArg empty;
        const FormatArg& a = next < args.size() ? args[next] : empty;
        ++next;
        std::string base = "%" + flags + width + precision;
        switch (conv) {
            case '@':
            case 's': {
                std::string t = argText(a);
                if (!width.empty() || !precision.empty()) t = printfOne(base + "s", t.c_str());
                out += t;
                break;
            }
            case 'd':
            case 'i': {
                long long v = a.kind == FormatArg::Kind::unsignedInteger
                                  ? static_cast<long long>(a.unsignedInteger)
                              : a.kind == FormatArg::Kind::real ? static_cast<long long>(a.real)
                                                                : a.integer;
                out += printfOne(base + "lld", v);
                break;
            }
            case 'u':
            case 'x':
            case 'X':
            case 'o': {
                unsigned long long v =
                    a.kind == FormatArg::Kind::integer ? static_cast<unsigned long long>(a.integer)
                    : a.kind == FormatArg::Kind::real
                        ? static_cast<unsigned long long>(static_cast<long long>(a.real))
                        : a.unsignedInteger;
                out += printfOne(base + "ll" + conv, v);
                break;
            }
            case 'c': {
                int v = static_cast<int>(
                    a.kind == FormatArg::Kind::unsignedInteger ? a.unsignedInteger : a.integer);
                out += printfOne(base + "c", v);
                break;
            }
            case 'f':
            case 'F':
            case 'e':
            case 'E':
            case 'g':
            case 'G': {
                double v = a.kind == FormatArg::Kind::real ? a.real
                           : a.kind == FormatArg::Kind::unsignedInteger
                               ? static_cast<double>(a.unsignedInteger)
                               : static_cast<double>(a.integer);
                out += printfOne(base + conv, v);
                break;
            }
            default:
                out.append(format.substr(start, i - start));
                break;
        }
    }
    return out;
}

}  // namespace qz
