// pelk trace: a capture file as text, one line (or JSON object) per record.
#include <cstdio>
#include <ctime>
#include <string>

#include "capture/capture_reader.h"
#include "tools/pelk/command.h"
#include "tools/pelk/status.h"

namespace {

std::string Hex(const std::vector<uint8_t>& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (uint8_t byte : bytes) {
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text;
}

// 2026-12-07T17:46:15.123456789Z
std::string Time(uint64_t ns) {
    const time_t seconds = static_cast<time_t>(ns / 1000000000u);
    tm parts;
    gmtime_r(&seconds, &parts);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%09uZ", parts.tm_year + 1900,
                  parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                  static_cast<unsigned>(ns % 1000000000u));
    return text;
}

const char* Direction(const CaptureRecord& record) {
    return (record.flags & 3) == kFlagInbound    ? "in"
           : (record.flags & 3) == kFlagOutbound ? "out"
                                                 : "-";
}

bool IsMessage(const CaptureRecord& record) {
    return record.kind != RecordKind::Operation;
}

std::vector<uint32_t> HeaderWords(const CaptureRecord& record) {
    std::vector<uint32_t> words;
    for (size_t at = 0; at + 4 <= record.header.size(); at += 4) {
        words.push_back(LoadLittleEndian32(record.header.data() + at));
    }
    return words;
}

void PrintText(const Capture& capture, const CaptureRecord& record, bool verbose) {
    const PK_MSG_DESC& d = record.desc;
    std::string line = Time(record.timestampNs) + " " + Direction(record) + " [" +
                       capture.interfaces[record.interface] + "] " +
                       OperationName(record.operation);
    if (IsMessage(record)) {
        line += " type " + std::to_string(d.type) + " src " + std::to_string(d.srcAddr1) + ":" +
                std::to_string(d.srcAddr2) + " dst " + std::to_string(d.dstAddr1) + ":" +
                std::to_string(d.dstAddr2) + " tag " + std::to_string(d.tag) + " header " +
                std::to_string(record.header.size()) + " buffers";
        for (uint32_t i = 1; i < d.numbufs; ++i) {
            line += (i == 1 ? " " : ",") + std::to_string(d.Buflen[i]);
        }
        if (d.numbufs <= 1) line += " -";
        if (record.kind == RecordKind::Flushed)
            line += " dropped " + std::to_string(record.dropped);
    } else {
        line += " args";
        for (size_t i = 0; i < record.args.size(); ++i) {
            line += (i == 0 ? " " : ",") + std::to_string(record.args[i]);
        }
        if (record.args.empty()) line += " -";
        line += " reply " + std::to_string(record.reply.size());
    }
    line += " status " + std::to_string(record.status) + " " +
            DescribeStatus(record.status, nullptr).name;
    std::printf("%s\n", line.c_str());
    if (!verbose) return;
    if (record.header.size() == PK_MAX_HEADER_LEN) {
        const std::vector<uint32_t> w = HeaderWords(record);
        std::printf("    word0 %u word1 %u opaque %s word4 %u paramCount %u params", w[0], w[1],
                    Hex({record.header.begin() + 8, record.header.begin() + 16}).c_str(), w[4],
                    w[5]);
        for (size_t i = 6; i < 14; ++i) std::printf(" %u", w[i]);
        std::printf("\n");
    } else if (!record.header.empty()) {
        std::printf("    header %s\n", Hex(record.header).c_str());
    }
    for (size_t i = 0; i < record.data.size(); ++i) {
        std::printf("    data%zu %s\n", i, Hex(record.data[i]).c_str());
    }
    if (!record.reply.empty()) std::printf("    reply %s\n", Hex(record.reply).c_str());
}

void PrintJson(const Capture& capture, const CaptureRecord& record, bool verbose) {
    const PK_MSG_DESC& d = record.desc;
    const StatusInfo status = DescribeStatus(record.status, nullptr);
    JsonObject json;
    json.Int("offset", static_cast<long long>(record.offset))
        .Int("timeNs", static_cast<long long>(record.timestampNs))
        .Str("direction", Direction(record))
        .Str("object", capture.interfaces[record.interface])
        .Str("kind", KindName(record.kind))
        .Str("operation", OperationName(record.operation));
    if (IsMessage(record)) {
        JsonArray lengths;
        for (uint32_t i = 1; i < d.numbufs; ++i) lengths.Int(d.Buflen[i]);
        json.Int("type", d.type)
            .Int("srcAddr1", d.srcAddr1)
            .Int("srcAddr2", d.srcAddr2)
            .Int("dstAddr1", d.dstAddr1)
            .Int("dstAddr2", d.dstAddr2)
            .Int("tag", d.tag)
            .Int("headerLen", static_cast<long long>(record.header.size()))
            .Arr("bufLen", lengths);
        if (record.kind == RecordKind::Flushed) json.Int("dropped", record.dropped);
    } else {
        JsonArray args;
        for (uint32_t arg : record.args) args.Int(arg);
        json.Arr("args", args).Int("replyLen", static_cast<long long>(record.reply.size()));
    }
    json.Int("status", record.status).Str("statusName", status.name);
    if (verbose) {
        if (record.header.size() == PK_MAX_HEADER_LEN) {
            JsonArray words;
            for (uint32_t word : HeaderWords(record)) words.Int(word);
            json.Arr("headerWords", words);
        }
        json.Str("header", Hex(record.header));
        std::string data;
        for (const auto& buffer : record.data) data += (data.empty() ? "" : " ") + Hex(buffer);
        json.Str("data", data).Str("reply", Hex(record.reply));
    }
    std::printf("%s\n", json.Render().c_str());
}

int RunTrace(Invocation& invocation) {
    Capture capture;
    const bool whole = ReadCaptureFile(invocation.args.Positional()[0], &capture);
    const bool verbose = invocation.args.Has("--verbose");
    for (const CaptureRecord& record : capture.records) {
        if (invocation.out.Json()) {
            PrintJson(capture, record, verbose);
        } else {
            PrintText(capture, record, verbose);
        }
    }
    invocation.out.Fields().Int("records", static_cast<long long>(capture.records.size()));
    if (!whole) {
        invocation.out.Error(invocation.args.Positional()[0] + ": " + capture.error);
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace

const Command kTraceCommand = {
    "trace",
    "FILE",
    "show the records of a capture file (PELK_CAPTURE, --capture)",
    {{"--verbose", 'v', nullptr, "add header words and data bytes in hex"}},
    false,
    1,
    1,
    RunTrace,
    {"pelk trace ping.pcapng", "pelk trace -v --json ping.pcapng"}};
