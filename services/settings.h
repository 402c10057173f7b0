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

#endif
