#include "app/history_plot.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace tidewell {

namespace {

using std::chrono::milliseconds;

constexpr double kWidth = 720, kHeight = 360;
constexpr double kLeft = 80, kRight = 700, kTop = 50, kBottom = 290;  // the plot area

// Fixed-point text through to_chars, which no locale's decimal comma reaches.
std::string number(double value, int decimals) {
    char text[64];
    const auto end =
        std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals).ptr;
    std::string out(text, end);
    return out == "-0" || out.find_first_not_of("-0.") == std::string::npos ? "0" : out;
}

std::string at(double x, double y) {
    return number(x, 1) + "," + number(y, 1);
}

std::string timeText(Instant t, const char* format) {
    const SystemTime st = systemTimeAt(t);
    char text[64];
    if (std::string_view(format) == "date")
        std::snprintf(text, sizeof text, "%04d-%02d-%02d", st.wYear, st.wMonth, st.wDay);
    else if (std::string_view(format) == "day time")
        std::snprintf(text, sizeof text, "%02d-%02d %02d:%02d", st.wMonth, st.wDay, st.wHour,
                      st.wMinute);
    else if (std::string_view(format) == "time")
        std::snprintf(text, sizeof text, "%02d:%02d", st.wHour, st.wMinute);
    else
        std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", st.wYear, st.wMonth,
                      st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds);
    return text;
}

// 1, 2 or 5 times a power of ten, at least `raw`.
double niceStep(double raw) {
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double f : {1.0, 2.0, 5.0})
        if (f * power >= raw) return f * power;
    return 10 * power;
}

// Seconds between time ticks: a handful of ticks whatever the span.
long long timeStep(long long spanSeconds) {
    for (long long step : {60LL, 300LL, 600LL, 900LL, 1800LL, 3600LL, 7200LL, 10800LL, 21600LL,
                           43200LL, 86400LL, 172800LL, 604800LL})
        if (spanSeconds / step <= 6) return step;
    long long step = 604800;
    while (spanSeconds / step > 6) step *= 2;
    return step;
}

std::string wasText(milliseconds ms) {
    const long long n = ms.count(), a = n < 0 ? -n : n;
    char text[64];
    std::snprintf(text, sizeof text, "%s%lld.%03lld s", n < 0 ? "-" : "+", a / 1000, a % 1000);
    return text;
}

std::string tooltip(const HistoryRow& r) {
    std::string text = timeText(r.when, "full") + " UTC: ";
    text += r.result == HistoryRow::Result::Set        ? "set"
            : r.result == HistoryRow::Result::WouldSet ? "would set"
                                                       : "refused";
    text += r.precise ? " (precise)" : " (whole seconds)";
    if (r.was) text += ", was " + wasText(*r.was);
    if (!r.reason.empty()) text += ": " + r.reason;
    return xmlEscaped(text);
}

}  // namespace

std::string xmlEscaped(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const char* entity = c == '&'    ? "&amp;"
                             : c == '<'  ? "&lt;"
                             : c == '>'  ? "&gt;"
                             : c == '"'  ? "&quot;"
                             : c == '\'' ? "&apos;"
                                         : nullptr;
        if (entity) {
            out += entity;
            ++i;
            continue;
        }
        if (c < 0x80) {
            out += c < 0x20 && c != '\t' && c != '\n' && c != '\r' ? '?' : char(c);
            ++i;
            continue;
        }
        // One UTF-8 sequence, whole, shortest and of a character XML allows; else one '?'.
        const std::size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 0;
        char32_t code = length == 4 ? c & 0x07 : length == 3 ? c & 0x0F : c & 0x1F;
        bool ok = length > 0 && i + length <= text.size();
        for (std::size_t k = 1; ok && k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            ok = (next & 0xC0) == 0x80;
            code = code << 6 | (next & 0x3F);
        }
        const char32_t least = length == 4 ? 0x10000 : length == 3 ? 0x800 : 0x80;
        ok = ok && code >= least && code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF) &&
             code != 0xFFFE && code != 0xFFFF;
        if (ok) {
            out.append(text.substr(i, length));
            i += length;
        } else {
            out += '?';
            ++i;
        }
    }
    return out;
}

std::string historySvg(const std::vector<HistoryRow>& rows) {
    std::size_t refused = 0;
    Instant first = Instant::max(), last = Instant::min();
    milliseconds::rep low = 0, high = 0;  // the range always holds zero
    for (const HistoryRow& r : rows) {
        refused += r.result == HistoryRow::Result::Refused;
        first = std::min(first, r.when);
        last = std::max(last, r.when);
        if (r.was) low = std::min(low, r.was->count()), high = std::max(high, r.was->count());
    }
    if (rows.empty()) first = last = Instant{};
    if (last - first < std::chrono::minutes(1))
        first -= std::chrono::seconds(30), last += std::chrono::seconds(30);
    const std::string range =
        timeText(first, "full").substr(0, 16) + " to " + timeText(last, "full").substr(0, 16);
    // A margin, so no mark sits on an axis.
    const auto margin = (last - first) / 50;
    first -= margin, last += margin;

    // Seconds once the offsets span two of them, else milliseconds.
    const bool seconds = high - low >= 2000;
    const double scale = seconds ? 1000.0 : 1.0;
    double lo = double(low) / scale, hi = double(high) / scale;
    if (hi - lo < 1e-9) lo -= 1, hi += 1;
    const double pad = (hi - lo) / 20;
    lo -= pad, hi += pad;
    const double step = niceStep((hi - lo) / 5);
    lo = std::floor(lo / step) * step;
    hi = std::ceil(hi / step) * step;
    const int decimals = std::max(0, int(-std::floor(std::log10(step) + 1e-9)));

    const double span = double((last - first).count());
    const auto xOf = [&](Instant t) {
        return kLeft + double((t - first).count()) / span * (kRight - kLeft);
    };
    const auto yOf = [&](double v) { return kBottom - (v - lo) / (hi - lo) * (kBottom - kTop); };

    std::string svg =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
        number(kWidth, 0) + "\" height=\"" + number(kHeight, 0) + "\" viewBox=\"0 0 " +
        number(kWidth, 0) + " " + number(kHeight, 0) +
        "\">\n"
        "<style>text{font:11px sans-serif;fill:#222}.axis{stroke:#222;fill:none}"
        ".grid{stroke:#ddd}.zero{stroke:#999}.set{fill:#1f5fa8}"
        ".would-set{fill:none;stroke:#1f5fa8}.refused{fill:none;stroke:#c62828;stroke-width:1.5}"
        "</style>\n"
        "<rect width=\"100%\" height=\"100%\" fill=\"#fff\"/>\n";
    svg += "<text x=\"" + number(kLeft, 0) + "\" y=\"22\" style=\"font-size:14px\">" +
           xmlEscaped("How far the PC clock was ahead of GPS: " + std::to_string(rows.size()) +
                      " updates, " + std::to_string(refused) + " refused") +
           "</text>\n";

    // Offset axis: grid lines and labels at nice steps.
    for (double v = lo; v <= hi + step / 2; v += step) {
        const double y = yOf(v);
        svg += "<line class=\"" + std::string(std::abs(v) < step / 2 ? "zero" : "grid") +
               "\" x1=\"" + number(kLeft, 0) + "\" x2=\"" + number(kRight, 0) + "\" y1=\"" +
               number(y, 1) + "\" y2=\"" + number(y, 1) + "\"/>\n";
        svg += "<text x=\"" + number(kLeft - 6, 0) + "\" y=\"" + number(y + 4, 1) +
               "\" text-anchor=\"end\">" + number(v, decimals) + "</text>\n";
    }
    svg += "<text transform=\"translate(18," + number((kTop + kBottom) / 2, 0) +
           ") rotate(-90)\" text-anchor=\"middle\">offset (" + (seconds ? "s" : "ms") +
           ")</text>\n";

    // Time axis: ticks on whole UTC steps.
    const long long spanSeconds = (last - first).count() / 1000;
    const long long tick = timeStep(spanSeconds);
    const char* format = tick >= 86400 ? "date" : spanSeconds > 86400 ? "day time" : "time";
    const long long firstSecond =
        std::chrono::ceil<std::chrono::seconds>(first).time_since_epoch().count();
    for (long long s = (firstSecond / tick + (firstSecond % tick > 0)) * tick;
         Instant(std::chrono::seconds(s)) <= last; s += tick) {
        const Instant t{std::chrono::seconds(s)};
        const double x = xOf(t);
        svg += "<line class=\"axis\" x1=\"" + number(x, 1) + "\" x2=\"" + number(x, 1) +
               "\" y1=\"" + number(kBottom, 0) + "\" y2=\"" + number(kBottom + 5, 0) + "\"/>\n";
        svg += "<text x=\"" + number(x, 1) + "\" y=\"" + number(kBottom + 18, 0) +
               "\" text-anchor=\"middle\">" + timeText(t, format) + "</text>\n";
    }
    svg += "<text x=\"" + number((kLeft + kRight) / 2, 0) + "\" y=\"" + number(kBottom + 42, 0) +
           "\" text-anchor=\"middle\">time (UTC)" + (rows.empty() ? "" : ", " + range) +
           "</text>\n";
    svg += "<path class=\"axis\" d=\"M" + at(kLeft, kTop) + " L" + at(kLeft, kBottom) + " L" +
           at(kRight, kBottom) + "\"/>\n";

    // The legend, then the marks; an update without a figure sits on the time axis.
    svg +=
        "<circle class=\"set\" cx=\"520\" cy=\"38\" r=\"2.5\"/><text x=\"526\" y=\"42\">set</text>"
        "<circle class=\"would-set\" cx=\"555\" cy=\"38\" r=\"2.5\"/>"
        "<text x=\"561\" y=\"42\">would set</text><path class=\"refused\" "
        "d=\"M622,35 L628,41 M622,41 L628,35\"/><text x=\"632\" y=\"42\">refused</text>\n";
    for (const HistoryRow& r : rows) {
        const double x = xOf(r.when), y = r.was ? yOf(double(r.was->count()) / scale) : kBottom;
        if (r.result == HistoryRow::Result::Refused)
            svg += "<path class=\"point refused\" d=\"M" + at(x - 3, y - 3) + " L" +
                   at(x + 3, y + 3) + " M" + at(x - 3, y + 3) + " L" + at(x + 3, y - 3) + "\">";
        else
            svg += std::string("<circle class=\"point ") +
                   (r.result == HistoryRow::Result::Set ? "set" : "would-set") + "\" cx=\"" +
                   number(x, 1) + "\" cy=\"" + number(y, 1) + "\" r=\"2.5\">";
        svg += "<title>" + tooltip(r) + "</title>" +
               (r.result == HistoryRow::Result::Refused ? "</path>\n" : "</circle>\n");
    }
    if (rows.empty())
        svg += "<text x=\"" + number((kLeft + kRight) / 2, 0) + "\" y=\"" +
               number((kTop + kBottom) / 2, 0) +
               "\" text-anchor=\"middle\">no clock updates yet</text>\n";
    return svg + "</svg>\n";
}

}  // namespace tidewell
