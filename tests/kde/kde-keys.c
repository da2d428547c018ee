/* Keys for whatever window has KWin's keyboard focus, through KWin's fake
 * input (org_kde_kwin_fake_input), which KWin offers only to a program whose
 * menu entry asks for it (with-kde.sh writes one):
 *     kde-keys KEYCODE...      Linux input key codes, each pressed and released
 * Exits 3 when KWin does not offer the interface. */
#include "fake-input-client-protocol.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <wayland-client.h>

static struct org_kde_kwin_fake_input* input;

static void global(void* data, struct wl_registry* registry, uint32_t name, const char* interface, uint32_t version)
{
    (void)data;
    if (strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0 && version >= 4)
        input = wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface, 4);
}

static void global_remove(void* data, struct wl_registry* registry, uint32_t name)
{
    (void)data;
    (void)registry;
    (void)name;
}

static const struct wl_registry_listener registry_listener = { global, global_remove };

int main(int argc, char** argv)
{
    struct wl_display* display = wl_display_connect(NULL);
    if (!display) {
        fprintf(stderr, "kde-keys: cannot connect to the Wayland display\n");
        return 2;
    }
    struct wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registry_listener, NULL);
    wl_display_roundtrip(display);
    if (!input) {
        fprintf(stderr, "kde-keys: KWin offers no fake input to this program\n");
        wl_registry_destroy(registry);
        wl_display_disconnect(display);
        return 3;
    }
    org_kde_kwin_fake_input_authenticate(input, "Huelens tests", "types keys for the program under test");
    for (int i = 1; i < argc; ++i) {
        const uint32_t code = (uint32_t)strtoul(argv[i], NULL, 10);
        org_kde_kwin_fake_input_keyboard_key(input, code, 1);
        wl_display_roundtrip(display);
        usleep(20000);
        org_kde_kwin_fake_input_keyboard_key(input, code, 0);
        wl_display_roundtrip(display);
    }
    org_kde_kwin_fake_input_destroy(input);
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return 0;
}
