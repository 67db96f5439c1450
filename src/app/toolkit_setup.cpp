#include "app/toolkit_setup.h"

namespace {
constexpr const char* kOverlayScrolling = "GTK_OVERLAY_SCROLLING";
bool overlay_setting_is_ours = false;
}  // namespace

void KeepScrollbarsInView() {
    if (wxGetEnv(kOverlayScrolling, nullptr)) return;
    overlay_setting_is_ours = wxSetEnv(kOverlayScrolling, "0");
}

wxEnvVariableHashMap EnvironmentForOtherPrograms() {
    wxEnvVariableHashMap environment;
    wxGetEnvMap(&environment);
    if (overlay_setting_is_ours) environment.erase(kOverlayScrolling);
    return environment;
}
