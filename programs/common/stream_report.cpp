#include "programs/common/stream_report.h"

#include <array>
#include <cstdio>
#include <vector>

#include "quor/quor.h"

namespace tesk::cli {

namespace {

struct Field {
    const char* key;
    std::string value; // empty when unknown
    const char* unit;  // after the value in text
    bool quoted;       // a JSON string
};

std::string number(double value, const char* format) {
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string known(int value) {
    return value < 0 ? std::string() : std::to_string(value);
}

std::string modeName(int mode) {
    static constexpr std::array<const char*, 4> kModes = {"stereo", "joint stereo", "dual channel",
                                                          "mono"};
    return mode >= 0 && mode < 4 ? kModes[static_cast<std::size_t>(mode)] : "";
}

// The samples a decode writes: "16-bit", "8-bit unsigned", "32-bit float".
std::string sampleFormatName(int bits, bool isFloat) {
    const char* kind = isFloat ? " float" : bits == 8 ? " unsigned" : "";
    return std::to_string(bits) + "-bit" + kind;
}

std::vector<Field> fieldsOf(const StreamReport& r) {
    std::vector<Field> fields = {
        {"duration", r.duration < 0.0 ? "" : number(r.duration, "%.3f"), " s", false},
        {"sample_rate", std::to_string(r.sampleRate), " Hz", false},
        {"channels", std::to_string(r.channels), "", false},
        {"sample_format", sampleFormatName(r.bits, r.isFloat), "", true},
        {"layer", std::to_string(r.layer), "", false},
        {"version", versionName(r.version), "", true},
        {"mode", modeName(r.mode), "", true},
        {"bit_rate", known(r.bitRate), " bit/s", false},
        {"vbr", r.vbr ? "true" : "false", "", false},
        {"frames", known(r.frames), "", false}};
    if (r.encoderDelay >= 0) {
        fields.push_back({"encoder_delay", std::to_string(r.encoderDelay), " samples", false});
    }
    if (r.encoderPadding >= 0) {
        fields.push_back({"encoder_padding", std::to_string(r.encoderPadding), " samples", false});
    }
    if (!r.tagsNote.empty()) {
        fields.push_back({"tags", "not read (" + r.tagsNote + ")", "", true});
    }
    for (const auto& [key, value] : r.tags) {
        fields.push_back({key.c_str(), value, "", true});
    }
    return fields;
}

std::string asText(const std::vector<Field>& fields) {
    std::string text;
    for (const Field& f : fields) {
        text += std::string(f.key) + ": " + (f.value.empty() ? "unknown" : f.value + f.unit) + "\n";
    }
    return text;
}

// A JSON string: quotes, backslashes and control characters escaped, the
// rest as the UTF-8 it is.
std::string jsonString(const std::string& text) {
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            quoted += std::string("\\") + c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
            quoted += escape;
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

std::string asJson(const std::vector<Field>& fields) {
    std::string text = "{";
    for (const Field& f : fields) {
        const std::string value = f.value.empty() ? "null"
                                  : f.quoted      ? jsonString(f.value)
                                                  : f.value;
        text += std::string(text.size() > 1 ? ", " : "") + "\"" + f.key + "\": " + value;
    }
    return text + "}\n";
}

} // namespace

std::string versionName(int version) {
    return version == 25 ? "MPEG-2.5" : "MPEG-" + std::to_string(version / 10);
}

void addTags(StreamReport& report, const std::function<std::string(const char* key)>& lookup) {
    if (Quor_GetTagKey(0) == nullptr) {
        report.tagsNote = "built without TagLib";
        return;
    }
    for (std::int32_t index = 0; const char* key = Quor_GetTagKey(index); ++index) {
        std::string value = lookup(key);
        if (!value.empty()) {
            report.tags.emplace_back(key, std::move(value));
        }
    }
}

std::string formatReport(const StreamReport& report, bool json) {
    const std::vector<Field> fields = fieldsOf(report);
    return json ? asJson(fields) : asText(fields);
}

} // namespace tesk::cli
