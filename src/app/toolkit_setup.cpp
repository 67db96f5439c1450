#include "app/toolkit_setup.h"

#include <array>

namespace {

struct ToolkitSetting {
    const char* name;
    const char* value;
    bool ours = false;  // set by us, not found in the environment
};

std::array<ToolkitSetting, 2> settings{{
    {"GTK_OVERLAY_SCROLLING", "0"},
    {"GDK_GL", "disable"},
}};

}  // namespace

void SetUpToolkitEnvironment() {
    for (ToolkitSetting& setting : settings) {
        if (setting.ours || wxGetEnv(setting.name, nullptr)) continue;
        setting.ours = wxSetEnv(setting.name, setting.value);
    }
}

wxEnvVariableHashMap EnvironmentForOtherPrograms() {
    wxEnvVariableHashMap environment;
    wxGetEnvMap(&environment);
    for (const ToolkitSetting& setting : settings)
        if (setting.ours) environment.erase(setting.name);
    return environment;
}
