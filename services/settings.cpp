#include "services/settings.h"

#include <cstdlib>

namespace {

// The variable's value, or null when it is unset or empty.
const char* Given(const char* variable) {
    const char* value = std::getenv(variable);
    return value != nullptr && *value != '\0' ? value : nullptr;
}

const char* GivenOr(const char* variable, const char* fallback) {
    const char* value = Given(variable);
    return value != nullptr ? value : fallback;
}

}  // namespace

const char* SettingLog() {
    return GivenOr(kLogVariable, "stdout");
}

const char* SettingCapture() {
    return Given(kCaptureVariable);
}

const char* SettingEmulatorDir() {
    return GivenOr(kEmulatorDirVariable, "/dev");
}

const char* SettingGroup() {
    return GivenOr(kGroupVariable, "pelk");
}

const char* SettingRemote() {
    return Given(kRemoteVariable);
}

const char* SettingRuntimeDir() {
    return GivenOr(kRuntimeDirVariable, "/run/pelk");
}

const char* SettingTlsCa() {
    return Given(kTlsCaVariable);
}

const char* SettingTlsCert() {
    return Given(kTlsCertVariable);
}

const char* SettingTlsKey() {
    return Given(kTlsKeyVariable);
}
