// zub-sandbox-helper-winetest.exe: the helper's own entry point on the Win32
// backend with the Wine stand-ins. Test build only.
#include "helper_appcontainer/entry_point.h"
#include "wine_standin_platform.h"

int main() {
    zub::WineStandinPlatform platform;
    zub::helper_main(platform);
}
