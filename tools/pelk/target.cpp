#include "tools/pelk/target.h"

#include "tools/pelk/resolution.h"

#include <cerrno>
#include <cstdlib>
#include <string>

const OptionDef kRemoteOption = {
    "--remote", 'r', "TARGET",
    "work on the boards and table of the host of the pelkd at TARGET (unix:PATH or HOST:PORT)"};

const std::vector<OptionDef> kTargetOptions = {
    {"--board", 'b', "N", "the board with logical number N in the board-identity table"},
    {"--driver", 'd', "zb5t|zbhost", "a board of this driver instead (default zbhost)"},
    {"--id", 'i', "ID", "with --driver: the board's ID within the driver (default 0)"},
    {"--capture", 0, "FILE", "record the board's traffic into FILE (as PELK_CAPTURE does)"},
};

namespace {

// The library's object for the driver: one of pelkd's host with --remote.
cPelkLib* NewObject(const Invocation& invocation, PELKLIB_DRIVER_TYPE type, unsigned int id) {
    return invocation.remote.empty() ? NewPelkLibByType(type)
                                     : NewPelkLibRemote(invocation.remote.c_str(), type, id);
}

JsonObject TargetJson(const Invocation& invocation, const Target& target) {
    JsonObject json;
    json.Int("driverType", target.driver)
        .Str("driver", DriverName(target.driver))
        .Int("id", target.id);
    if (!invocation.remote.empty()) {
        json.Str("remote", invocation.remote);
    }
    return json;
}

// Resolves the logical board number, then has the library make the object
// for the driver found.
int MakeByBoardNumber(Invocation& invocation, unsigned int board, Target* target) {
    Output& out = invocation.out;
    const Resolution resolution = ResolveBoard(board, invocation.remote);
    out.Fields().Obj("resolution", ResolutionJson(resolution));
    if (resolution.status != 0) {
        ReportUnresolved(out, resolution);
        return kExitFailed;
    }
    const PELKLIB_DRIVER_TYPE type = resolution.type;
    target->id = resolution.id;
    target->driver = type;
    target->lib.reset(NewObject(invocation, type, target->id));
    out.Fields().Obj("target", TargetJson(invocation, *target).Int("board", board));
    out.Text("board %u: driver %s (type %d), driver board ID %u\n", board, DriverName(type),
             static_cast<int>(type), target->id);
    if (!target->lib) {
        out.Doing("make an object for driver " + std::string(DriverName(type)));
        out.Error("board " + std::to_string(board) + " is served by driver " + DriverName(type) +
                  ", which this library cannot reach");
        return kExitFailed;
    }
    return kExitOk;
}

int MakeByDriver(Invocation& invocation, Target* target) {
    const std::string& name = invocation.args.Value("--driver");
    if (name == "zb5t" || name == "zbhost" || name.empty()) {
        target->driver = name == "zb5t" ? PELKLIB_DRIVER_ZB5T : PELKLIB_DRIVER_ZBHOST;
    } else {
        return invocation.out.Usage("--driver takes zb5t or zbhost, not \"" + name + "\"");
    }
    const std::string wrong = invocation.args.Number("--id", 0, 0, 0xFFFFFFFFu, "", &target->id);
    if (!wrong.empty()) {
        return invocation.out.Usage(wrong);
    }
    target->lib.reset(NewObject(invocation, target->driver, target->id));
    invocation.out.Fields().Obj("target", TargetJson(invocation, *target));
    invocation.out.Text("driver %s, driver board ID %u\n", DriverName(target->driver), target->id);
    return kExitOk;
}

// Makes the object for the chosen board and opens it. Returns kExitOk, or
// the exit code of the failure.
int OpenTarget(Invocation& invocation, Target* target) {
    const Arguments& args = invocation.args;
    Output& out = invocation.out;
    unsigned int board = 0;
    if (args.Has("--board") && (args.Has("--driver") || args.Has("--id"))) {
        return out.Usage("--board cannot be combined with --driver or --id");
    }
    const std::string wrong = args.Number("--board", 0, 0, 0xFFFFFFFFu, "", &board);
    if (!wrong.empty()) {
        return out.Usage(wrong);
    }
    // The library reads the variable when it makes the object.
    if (args.Has("--capture")) {
        setenv("PELK_CAPTURE", args.Value("--capture").c_str(), 1);
    }
    const int made = args.Has("--board") ? MakeByBoardNumber(invocation, board, target)
                                         : MakeByDriver(invocation, target);
    if (made != kExitOk) {
        return made;
    }
    if (!invocation.remote.empty()) {
        out.Text("through pelkd at %s\n", invocation.remote.c_str());
    }
    out.Doing("open");
    const int status = target->lib->Open(PK_MAX_HEADER_LEN, &target->waitHandle);
    out.Status("open", "open", status, target->lib.get());
    const std::string where =
        invocation.remote.empty() ? "" : " on the host of pelkd at " + invocation.remote;
    if (status == ENOENT && target->driver == PELKLIB_DRIVER_ZB5T) {
        out.Error("no zb5t driver is present" + where + " (/dev/zb5t does not exist)");
    } else if (status != 0 && !invocation.remote.empty() && !out.HasCause()) {
        out.Error("cannot open the board through pelkd at " + invocation.remote);
    } else if (status != 0 && target->driver == PELKLIB_DRIVER_ZBHOST && !out.HasCause()) {
        out.Error("cannot reach the board emulator; is zbhost running?");
    }
    return status == 0 ? kExitOk : kExitFailed;
}

}  // namespace

int RunOnBoard(Invocation& invocation, const std::function<int(Target& target)>& body) {
    Target target;
    const int opened = OpenTarget(invocation, &target);
    return opened == kExitOk ? body(target) : opened;
}
