// pelk info, data, reset, release and stats: board information and control.
#include <cerrno>
#include <cstdio>
#include <string>

#include "tools/pelk/command.h"
#include "tools/pelk/target.h"

namespace {

constexpr unsigned int kEepromAreaLen = 20;
constexpr unsigned int kMaxDetected = 32;
constexpr unsigned int kBoardDataMax = 4096;

std::string Hex(const unsigned char* bytes, unsigned int count) {
    std::string hex;
    for (unsigned int i = 0; i < count; ++i) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
        hex += pair;
    }
    return hex;
}

// Adds a failed step's status under key; true when status is 0.
bool Step(Invocation& invocation, cPelkLib* lib, const char* key, int status) {
    if (status != 0) {
        invocation.out.Status(key, key, status, lib);
    }
    return status == 0;
}

int RunInfo(Invocation& invocation) {
    Target target;
    const int opened = OpenTarget(invocation, &target);
    if (opened != kExitOk) {
        return opened;
    }
    Output& out = invocation.out;
    cPelkLib* lib = target.lib.get();
    bool ok = true;

    unsigned int first = 0, second = 0;
    if (Step(invocation, lib, "driverVersion", lib->GetDriverVersion(&first, &second))) {
        out.Fields().Obj("driverVersion", JsonObject().Int("first", first).Int("second", second));
        out.Text("driver version: %u.%u\n", first, second);
    } else {
        ok = false;
    }

    PK_BOARD_MAPPING mapping = {};
    if (Step(invocation, lib, "mapping",
             lib->GetBoardMapping(target.id, sizeof mapping, &mapping))) {
        const uint32_t words[] = {mapping.size,  mapping.word1, mapping.word2,
                                  mapping.word3, mapping.word4, mapping.word5};
        JsonArray list;
        out.Text("board mapping:");
        for (uint32_t word : words) {
            list.Int(word);
            out.Text(" 0x%08x", word);
        }
        out.Text("\n");
        out.Fields().Arr("mapping", list);
    } else {
        ok = false;
    }

    unsigned char eeprom[kEepromAreaLen] = {};
    unsigned int count = 0;
    if (Step(invocation, lib, "eeprom",
             lib->ReadEEPROM(target.id, 0, sizeof eeprom, eeprom, &count))) {
        count = count < sizeof eeprom ? count : sizeof eeprom;
        const std::string hex = Hex(eeprom, count);
        out.Fields().Obj("eeprom", JsonObject().Int("offset", 0).Int("length", count).Str("hex", hex));
        out.Text("EEPROM at 0, %u bytes: %s\n", count, hex.c_str());
    } else {
        ok = false;
    }

    unsigned int detectedFirst[kMaxDetected], detectedSecond[kMaxDetected];
    if (Step(invocation, lib, "detectedBoards",
             lib->DetectBoards(kMaxDetected, detectedFirst, detectedSecond, &count))) {
        JsonArray list;
        out.Text("detected boards: %u\n", count);
        for (unsigned int i = 0; i < count && i < kMaxDetected; ++i) {
            list.Obj(JsonObject().Int("first", detectedFirst[i]).Int("second", detectedSecond[i]));
            out.Text("  0x%08x 0x%08x\n", detectedFirst[i], detectedSecond[i]);
        }
        out.Fields().Int("detectedCount", count).Arr("detectedBoards", list);
    } else {
        ok = false;
    }

    out.Fields().Int("waitHandle", lib->GetWaitHandle());
    out.Text("wait handle: %d\n", lib->GetWaitHandle());
    return ok ? kExitOk : kExitFailed;
}

// Reads the board data through lib and reports it; kExitOk when it reads
// as expected (any data when expected is null).
int ReadBoardData(Invocation& invocation, cPelkLib* lib, unsigned int id,
                  const std::string* expected) {
    std::string data(kBoardDataMax, '\0');
    unsigned int count = 0;
    const int status =
        lib->GetBoardData(id, static_cast<unsigned int>(data.size()), &data[0], &count);
    if (!Step(invocation, lib, "status", status)) {
        if (status == ENOENT) {
            invocation.out.Error("no board data is stored");
        }
        return kExitFailed;
    }
    data.resize(count < data.size() ? count : data.size());
    invocation.out.Fields().Int("length", data.size()).Str("data", data).Str(
        "hex", Hex(reinterpret_cast<const unsigned char*>(data.data()),
                   static_cast<unsigned int>(data.size())));
    invocation.out.Text("read %zu bytes of board data: %s\n", data.size(),
                        JsonQuote(data).c_str());
    if (expected != nullptr && data != *expected) {
        invocation.out.Error("the board data read back differs from the data stored");
        return kExitFailed;
    }
    return kExitOk;
}

// data set stores through one object and reads back through a second, as
// two users of the board would: the emulator keeps board data only while
// the object that stored it lives.
int RunData(Invocation& invocation) {
    const std::vector<std::string>& words = invocation.args.Positional();
    const bool set = words[0] == "set";
    if ((!set && words[0] != "get") || words.size() != (set ? 2u : 1u)) {
        invocation.out.Error("expected data set TEXT or data get");
        return kExitUsage;
    }
    if (set && words[1].size() > kBoardDataMax) {
        invocation.out.Error("TEXT takes 0 to 4096 bytes, not " + std::to_string(words[1].size()));
        return kExitUsage;
    }
    Target target;
    const int opened = OpenTarget(invocation, &target);
    if (opened != kExitOk) {
        return opened;
    }
    if (!set) {
        return ReadBoardData(invocation, target.lib.get(), target.id, nullptr);
    }
    std::string text = words[1];
    unsigned int count = 0;
    if (!Step(invocation, target.lib.get(), "status",
              target.lib->SetBoardData(target.id, static_cast<unsigned int>(text.size()),
                                       &text[0], &count))) {
        return kExitFailed;
    }
    invocation.out.Fields().Int("stored", count);
    invocation.out.Text("stored %u bytes of board data\n", count);
    PelkHandle reader(NewPelkLibByType(target.driver));
    if (!Step(invocation, reader.get(), "readerOpen", reader->Open(PK_MAX_HEADER_LEN, nullptr))) {
        return kExitFailed;
    }
    return ReadBoardData(invocation, reader.get(), target.id, &text);
}

int RunReset(Invocation& invocation) {
    Target target;
    const int opened = OpenTarget(invocation, &target);
    if (opened != kExitOk) {
        return opened;
    }
    const int status = target.lib->AssertBoardReset(target.id);
    invocation.out.Status("status", "hold in reset", status, target.lib.get());
    return status == 0 ? kExitOk : kExitFailed;
}

int RunRelease(Invocation& invocation) {
    unsigned int timeout = 0;
    const std::string wrong =
        invocation.args.Number("--timeout", 5000, 0, kMaxTimeoutMs, "milliseconds", &timeout);
    if (!wrong.empty()) {
        invocation.out.Error(wrong);
        return kExitUsage;
    }
    Target target;
    const int opened = OpenTarget(invocation, &target);
    if (opened != kExitOk) {
        return opened;
    }
    const int status = target.lib->LiftBoardReset(target.id, timeout);
    invocation.out.Status("status", "release from reset", status, target.lib.get());
    if (status == PKERR_UNKNOWN && target.driver == PELKLIB_DRIVER_ZBHOST) {
        invocation.out.Error("the board emulator does not emulate release from reset, so "
                             "release always fails with -1 on a zbhost board");
    }
    return status == 0 ? kExitOk : kExitFailed;
}

int RunStats(Invocation& invocation) {
    unsigned int selector1 = 0, selector2 = 0;
    std::string wrong = invocation.args.Number("--selector1", 0, 0, 0xFFFFFFFFu, "", &selector1);
    if (wrong.empty()) {
        wrong = invocation.args.Number("--selector2", 0, 0, 0xFFFFFFFFu, "", &selector2);
    }
    if (!wrong.empty()) {
        invocation.out.Error(wrong);
        return kExitUsage;
    }
    Target target;
    const int opened = OpenTarget(invocation, &target);
    if (opened != kExitOk) {
        return opened;
    }
    Output& out = invocation.out;
    cPelkLib* lib = target.lib.get();
    PK_GET_DRVR_STATS stats = {};
    stats.selector1 = selector1;
    stats.selector2 = selector2;
    unsigned int count = 0;
    if (!Step(invocation, lib, "status",
              lib->GetDriverStats(selector1, selector2, sizeof stats, &stats, &count))) {
        return kExitFailed;
    }
    const unsigned int counters = count <= 8 ? 0 : (count - 8) / 4;
    JsonArray list;
    out.Text("driver statistics (%u bytes):\n", count);
    for (unsigned int i = 0; i < counters && i < 62; ++i) {
        list.Int(stats.counters[i]);
        out.Text("  counter %2u: %u\n", i, stats.counters[i]);
    }
    out.Fields().Int("bytes", count).Arr("counters", list);
    if (invocation.args.Has("--zero")) {
        const int zeroed = lib->ZeroDriverStats(selector1, selector2);
        out.Status("zero", "zero the statistics", zeroed, lib);
        return zeroed == 0 ? kExitOk : kExitFailed;
    }
    return kExitOk;
}

const std::vector<OptionDef> kNoOptions;

}  // namespace

const Command kInfoCommand = {
    "info", "", "driver version, board mapping, EEPROM area at 0, detected boards, wait handle",
    kNoOptions, true, 0, 0, RunInfo};
const Command kDataCommand = {"data", "set TEXT | get", "store TEXT as board data and read it back, or read it",
                              kNoOptions, true, 1, 2, RunData};
const Command kResetCommand = {"reset", "", "hold the board in reset", kNoOptions, true, 0, 0,
                               RunReset};
const Command kReleaseCommand = {
    "release", "",
    "release the board from reset and wait until it is ready (always -1 on the emulator, which "
    "does not emulate it)",
    {{"--timeout", "MS", "how long to wait for the board (default 5000)"}}, true, 0, 0,
    RunRelease};
const Command kStatsCommand = {
    "stats", "", "read the driver statistics (-17 on the emulator, which does not provide them)",
    {{"--zero", nullptr, "zero the statistics after reading them"},
     {"--selector1", "N", "first selector word (default 0)"},
     {"--selector2", "N", "second selector word (default 0)"}},
    true, 0, 0, RunStats};
