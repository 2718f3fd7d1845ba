// The list of output formats and what every other list is made from.

#include <algorithm>

#include "formats/EncodingParams.h"
#include "formats/OutputFormat.h"

namespace pelloran {

namespace {

std::vector<const OutputFormatDescriptor*>& Formats() {
    // In the order of --list-formats, -f's help and the completions.
    static std::vector<const OutputFormatDescriptor*> formats = {
        &kMp3Format, &kWavFormat, &kWmaFormat, &kOggFormat, &kAacFormat, &kM4aFormat,  &kMp4Format,
        &kM4bFormat, &kAmrFormat, &kAwbFormat, &kFlacFormat, &kOpusFormat, &kAlacFormat,
    };
    return formats;
}

std::string RowLabel(const OutputFormatDescriptor& format, const OutputFormatDescriptor::ListRow& row) {
    return row.label != nullptr ? std::string(row.label) : ToUpperAscii(format.extension);
}

}  // namespace

const std::vector<const OutputFormatDescriptor*>& OutputFormatList() { return Formats(); }

bool RegisterOutputFormat(const OutputFormatDescriptor& format) {
    for (const OutputFormatDescriptor* known : Formats()) {
        if (known->code == format.code || EqualsIgnoreCase(known->name, format.name) ||
            EqualsIgnoreCase(known->extension, format.extension))
            return false;
    }
    Formats().push_back(&format);
    return true;
}

const OutputFormatDescriptor* FindOutputFormat(int32_t code) {
    for (const OutputFormatDescriptor* format : Formats()) {
        if (format->code == code) return format;
    }
    return nullptr;
}

int32_t OutputFormatFromName(std::string_view name) {
    for (const OutputFormatDescriptor* format : Formats()) {
        if (EqualsIgnoreCase(name, format->name)) return format->code;
    }
    return 0;
}

std::vector<std::string> OutputFormatNames() {
    std::vector<std::string> names;
    for (const OutputFormatDescriptor* format : Formats()) names.emplace_back(format->name);
    return names;
}

std::string OutputExtension(int32_t code) {
    const OutputFormatDescriptor* format = FindOutputFormat(code);
    return format == nullptr ? std::string{} : "." + std::string(format->extension);
}

bool IsOutputExtension(std::string_view ext) {
    if (ext.size() < 2 || ext.front() != '.') return false;
    return std::any_of(Formats().begin(), Formats().end(),
                       [&](const OutputFormatDescriptor* f) { return EqualsIgnoreCase(ext.substr(1), f->extension); });
}

std::string OutputFormatName(int32_t code) {
    const OutputFormatDescriptor* format = FindOutputFormat(code);
    return format == nullptr ? std::string{} : ToUpperAscii(format->name);
}

std::vector<FormatListRow> FormatListRows() {
    struct Placed {
        int position;
        FormatListRow row;
    };
    std::vector<Placed> placed;
    int next = 0;
    for (const OutputFormatDescriptor* format : Formats()) {
        for (const auto& row : format->listRows) {
            if (row.position < 0) continue;
            placed.push_back({row.position, {format->code, RowLabel(*format, row)}});
            next = std::max(next, row.position + 1);
        }
    }
    // A format without a place of its own follows the others.
    for (const OutputFormatDescriptor* format : Formats()) {
        if (format->listRows[0].position < 0) placed.push_back({next++, {format->code, ToUpperAscii(format->extension)}});
    }
    std::stable_sort(placed.begin(), placed.end(), [](const Placed& a, const Placed& b) { return a.position < b.position; });
    std::vector<FormatListRow> rows;
    for (Placed& p : placed) rows.push_back(std::move(p.row));
    return rows;
}

int FormatListRowIndex(int32_t code) {
    const std::vector<FormatListRow> rows = FormatListRows();
    int found = -1;
    for (size_t i = 0; i < rows.size(); ++i) {
        if (rows[i].code == code) found = static_cast<int>(i);
    }
    return found;
}

std::vector<OutputFormatInfo> OutputFormats() {
    std::vector<OutputFormatInfo> formats;
    const std::vector<FormatListRow> rows = FormatListRows();
    for (const OutputFormatDescriptor* format : Formats()) {
        OutputFormatInfo info{format->name, {format->extension}, format->lossless, format->maxChannels, format->tags, {}};
        for (const FormatListRow& row : rows) {
            if (row.code == format->code) info.label = row.label;
        }
        formats.push_back(std::move(info));
    }
    return formats;
}

FrameSpan Around(const LengthFacts& facts, uint64_t above) {
    const uint64_t slack = facts.resampled ? 2 : 0;
    return {facts.expected > slack ? facts.expected - slack : 0, facts.expected + above + slack};
}

void SetGain(WriterPlan& plan, const FormatSettings& format) {
    plan.amplify = format.amplify != 0 && format.gain != 100;
    plan.gain = static_cast<float>(format.gain) * 0.01f;
}

TagChoice PlanTags(const PlanInput& in, const FormatSettings& format, bool copyRawId3) {
    return ChooseTags(format.tagType, format.tags, in.decoder, in.formatCode, in.sourcePath, in.runPosition,
                      copyRawId3, format.copyCover != 0, in.tags);
}

void PlanLossless(const PlanInput& in, int rate, int channels, int bits, int maxBits, int maxChannels,
                  WriterPlan& plan) {
    const PcmFormat& source = in.source;
    const int outRate = rate > 0 ? rate : source.rate;
    const int outChannels = channels == 1 || channels == 2 ? channels : source.channels <= maxChannels ? source.channels : 2;
    const int width = std::min(bits != 0 ? bits : source.bits, maxBits);
    plan.format = {outRate, outChannels, width};
}

}  // namespace pelloran
