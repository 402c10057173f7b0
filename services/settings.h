// The environment variables the library and its tools read, each read here
// and nowhere else. Every call reads the environment afresh; callers decide
// when (docs/man/pelklib.3.scd lists the variables for users).
#ifndef PELK_SERVICES_SETTINGS_H
#define PELK_SERVICES_SETTINGS_H

// PELK_LOG: where diagnostic texts go without a callback: "stdout" (also
// when unset or empty), "stderr", "off", or the path of a file to append to.
constexpr const char* kLogVariable = "PELK_LOG";
const char* SettingLog();

// PELK_CAPTURE: the capture file of the process ("%p" stands for its
// process ID); null when unset or empty, so nothing is captured.
constexpr const char* kCaptureVariable = "PELK_CAPTURE";
const char* SettingCapture();

// PELK_EMULATOR_DIR: the directory of the emulator's pipes, lock and
// semaphore marker; "/dev" when unset or empty.
constexpr const char* kEmulatorDirVariable = "PELK_EMULATOR_DIR";
const char* SettingEmulatorDir();

// PELK_GROUP: the group whose members share boards when it exists; "pelk"
// when unset or empty.
constexpr const char* kGroupVariable = "PELK_GROUP";
const char* SettingGroup();

// PELK_REMOTE: a pelkd to reach ("unix:PATH" or "HOST:PORT"); when set,
// NewPelkLibByType and NewPelkLibByBoardNumber make remote objects. Null
// when unset or empty.
constexpr const char* kRemoteVariable = "PELK_REMOTE";
const char* SettingRemote();

// PELK_RUNTIME_DIR: the directory of pelkd's socket; "/run/pelk" when unset
// or empty.
constexpr const char* kRuntimeDirVariable = "PELK_RUNTIME_DIR";
const char* SettingRuntimeDir();

// PELK_TLS_CA, PELK_TLS_CERT, PELK_TLS_KEY: the PEM files a client reaching
// pelkd over TCP checks the server with and shows itself with. Null when
// unset or empty.
constexpr const char* kTlsCaVariable = "PELK_TLS_CA";
constexpr const char* kTlsCertVariable = "PELK_TLS_CERT";
constexpr const char* kTlsKeyVariable = "PELK_TLS_KEY";
const char* SettingTlsCa();
const char* SettingTlsCert();
const char* SettingTlsKey();

#endif
