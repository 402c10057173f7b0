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

// Each piece of information is read even when one before it fails.
int Info(Invocation& invocation, Target& target) {
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
        out.Fields().Obj("eeprom",
                         JsonObject().Int("offset", 0).Int("length", count).Str("hex", hex));
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

int RunInfo(Invocation& invocation) {
    return RunOnBoard(invocation, [&](Target& target) { return Info(invocation, target); });
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
    invocation.out.Fields()
        .Int("length", data.size())
        .Str("data", data)
        .Str("hex", Hex(reinterpret_cast<const unsigned char*>(data.data()),
                        static_cast<unsigned int>(data.size())));
    invocation.out.Text("read %zu bytes of board data: %s\n", data.size(), JsonQuote(data).c_str());
    if (expected != nullptr && data != *expected) {
        invocation.out.Error("the board data read back differs from the data stored");
        return kExitFailed;
    }
    return kExitOk;
}

// data set stores through one object and reads back through a second, as
// two users of the board would: the emulator keeps board data only while
// the object that stored it lives.
int StoreBoardData(Invocation& invocation, Target& target, std::string text) {
    unsigned int count = 0;
    if (!Step(invocation, target.lib.get(), "status",
              target.lib->SetBoardData(target.id, static_cast<unsigned int>(text.size()), &text[0],
                                       &count))) {
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

int RunData(Invocation& invocation) {
    const std::vector<std::string>& words = invocation.args.Positional();
    const bool set = words[0] == "set";
    if ((!set && words[0] != "get") || words.size() != (set ? 2u : 1u)) {
        return invocation.out.Usage("expected data set TEXT or data get");
    }
    if (set && words[1].size() > kBoardDataMax) {
        return invocation.out.Usage("TEXT takes 0 to 4096 bytes, not " +
                                    std::to_string(words[1].size()));
    }
    return RunOnBoard(invocation, [&](Target& target) {
        return set ? StoreBoardData(invocation, target, words[1])
                   : ReadBoardData(invocation, target.lib.get(), target.id, nullptr);
    });
}

int RunReset(Invocation& invocation) {
    return RunOnBoard(invocation, [&](Target& target) {
        const int status = target.lib->AssertBoardReset(target.id);
        invocation.out.Status("status", "hold in reset", status, target.lib.get());
        return status == 0 ? kExitOk : kExitFailed;
    });
}

int RunRelease(Invocation& invocation) {
    unsigned int timeout = 0;
    const std::string wrong =
        invocation.args.Number("--timeout", 5000, 0, kMaxTimeoutMs, "milliseconds", &timeout);
    if (!wrong.empty()) {
        return invocation.out.Usage(wrong);
    }
    return RunOnBoard(invocation, [&](Target& target) {
        const int status = target.lib->LiftBoardReset(target.id, timeout);
        invocation.out.Status("status", "release from reset", status, target.lib.get());
        if (status == PKERR_UNKNOWN && target.driver == PELKLIB_DRIVER_ZBHOST) {
            invocation.out.Error("the board emulator does not emulate release from reset, so "
                                 "release always fails with -1 on a zbhost board");
        }
        return status == 0 ? kExitOk : kExitFailed;
    });
}

int Stats(Invocation& invocation, cPelkLib* lib, unsigned int selector1, unsigned int selector2) {
    Output& out = invocation.out;
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

int RunStats(Invocation& invocation) {
    unsigned int selector1 = 0, selector2 = 0;
    std::string wrong = invocation.args.Number("--selector1", 0, 0, 0xFFFFFFFFu, "", &selector1);
    if (wrong.empty()) {
        wrong = invocation.args.Number("--selector2", 0, 0, 0xFFFFFFFFu, "", &selector2);
    }
    if (!wrong.empty()) {
        return invocation.out.Usage(wrong);
    }
    return RunOnBoard(invocation, [&](Target& target) {
        return Stats(invocation, target.lib.get(), selector1, selector2);
    });
}

}  // namespace

const Command kInfoCommand = {
    "info",
    "",
    "driver version, board mapping, EEPROM area at 0, detected boards, wait handle",
    {},
    true,
    0,
    0,
    RunInfo,
    {"pelk info --board 1", "pelk info -d zb5t -i 0"}};
const Command kDataCommand = {"data",
                              "set TEXT | get",
                              "store TEXT as board data and read it back, or read it",
                              {},
                              true,
                              1,
                              2,
                              RunData,
                              {"pelk data set 'rack 1, slot 4' --board 1", "pelk data get -b 1"}};
const Command kResetCommand = {"reset", "",       "hold the board in reset", {}, true, 0,
                               0,       RunReset, {"pelk reset --board 3"}};
const Command kReleaseCommand = {
    "release",
    "",
    "release the board from reset and wait until it is ready (always -1 on the emulator, which "
    "does not emulate it)",
    {{"--timeout", 't', "MS", "how long to wait for the board (default 5000)"}},
    true,
    0,
    0,
    RunRelease,
    {"pelk release --board 3 --timeout 10000"}};
const Command kStatsCommand = {
    "stats",
    "",
    "read the driver statistics (-17 on the emulator, which does not provide them)",
    {{"--zero", 'z', nullptr, "zero the statistics after reading them"},
     {"--selector1", 0, "N", "first selector word (default 0)"},
     {"--selector2", 0, "N", "second selector word (default 0)"}},
    true,
    0,
    0,
    RunStats,
    {"pelk stats --board 3", "pelk stats -b 3 --zero --selector1 1"}};
