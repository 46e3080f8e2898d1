// zub-sandbox-helper.exe: the production entry point on the real Windows backend.
#include "helper_appcontainer/entry_point.h"
#include "platform/win32_platform.h"

int main() {
    zub::Win32Platform platform;
    zub::helper_main(platform);
}
