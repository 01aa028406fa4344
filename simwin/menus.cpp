// Simulated menus: a window's class menu built from the resource script, item state with
// EnableMenuItem, and the test's view of opening a popup and choosing an item.
#include "simwin/windows_model.h"

namespace sim {
namespace detail {
namespace {

constexpr UINT kByPosition = 0x400; // MF_BYPOSITION
constexpr UINT kStateBits = MF_GRAYED | MF_DISABLED;

std::map<uintptr_t, Menu>& menus() {
    static std::map<uintptr_t, Menu> instance;
    return instance;
}

HMENU build_menu(const std::vector<MenuTemplateItem>& items) {
    Menu menu;
    for (const MenuTemplateItem& source : items) {
        MenuItem item;
        item.text = source.text;
        item.id = source.id;
        item.separator = source.separator;
        item.state = source.state;
        if (source.is_popup)
            item.popup = build_menu(source.popup);
        menu.items.push_back(item);
    }
    uintptr_t value = next_handle_value();
    menus()[value] = menu;
    return reinterpret_cast<HMENU>(value);
}

} // namespace

Menu* menu_object(HMENU menu) {
    auto it = menus().find(reinterpret_cast<uintptr_t>(menu));
    return it == menus().end() ? nullptr : &it->second;
}

HMENU load_menu(const std::string& name) {
    auto it = resources().menus.find(name);
    return it == resources().menus.end() ? nullptr : build_menu(it->second);
}

MenuItem* find_menu_command(HMENU menu, UINT command, HMENU* holder) {
    Menu* object = menu_object(menu);
    if (!object)
        return nullptr;
    for (MenuItem& item : object->items) {
        if (item.popup) {
            if (MenuItem* found = find_menu_command(item.popup, command, holder))
                return found;
        } else if (!item.separator && item.id == command) {
            *holder = menu;
            return &item;
        }
    }
    return nullptr;
}

int bar_position(HMENU bar, HMENU popup) {
    Menu* object = menu_object(bar);
    if (!object)
        return 0;
    for (size_t i = 0; i < object->items.size(); ++i)
        if (object->items[i].popup == popup)
            return static_cast<int>(i);
    return 0;
}

void reset_menus() {
    menus().clear();
}

} // namespace detail

HMENU window_menu(HWND window) {
    const detail::Window* object = detail::window_object(window);
    return object ? object->menu : nullptr;
}

HMENU open_menu_popup(HWND window, int position) {
    detail::Menu* bar = detail::menu_object(window_menu(window));
    if (!bar || position < 0 || position >= static_cast<int>(bar->items.size()))
        return nullptr;
    HMENU popup = bar->items[static_cast<size_t>(position)].popup;
    if (popup)
        detail::send_message(window, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(popup),
                             MAKELPARAM(position, FALSE));
    return popup;
}

int menu_item_state(HMENU menu, UINT command) {
    HMENU holder = nullptr;
    const detail::MenuItem* item = detail::find_menu_command(menu, command, &holder);
    return item ? static_cast<int>(item->state & detail::kStateBits) : -1;
}

bool choose_menu_item(HWND window, UINT command) {
    detail::Menu* bar = detail::menu_object(window_menu(window));
    if (!bar || !detail::accepts_input(window))
        return false;
    for (size_t position = 0; position < bar->items.size(); ++position) {
        HMENU popup = bar->items[position].popup;
        HMENU holder = nullptr;
        if (!popup || !detail::find_menu_command(popup, command, &holder))
            continue;
        open_menu_popup(window, static_cast<int>(position));
        if (menu_item_state(popup, command) != MF_ENABLED)
            return false;
        detail::post_message(window, WM_COMMAND, MAKEWPARAM(command, 0), 0);
        return true;
    }
    return false;
}

} // namespace sim

BOOL WINAPI EnableMenuItem(HMENU menu, UINT id, UINT enable) {
    if (sim::detail::enter("EnableMenuItem", sim::detail::format("id=%u flags=%#x", id, enable)))
        return -1;
    sim::detail::MenuItem* item = nullptr;
    if (enable & sim::detail::kByPosition) {
        sim::detail::Menu* object = sim::detail::menu_object(menu);
        if (object && id < object->items.size())
            item = &object->items[id];
    } else {
        HMENU holder = nullptr;
        item = sim::detail::find_menu_command(menu, id, &holder);
    }
    if (!item)
        return -1;
    UINT previous = item->state & sim::detail::kStateBits;
    item->state = (item->state & ~sim::detail::kStateBits) | (enable & sim::detail::kStateBits);
    return static_cast<BOOL>(previous);
}

HMENU WINAPI LoadMenuA(HINSTANCE instance, LPCSTR name) {
    std::string resource = name ? sim::detail::resource_name(name) : "";
    if (sim::detail::enter("LoadMenuA", resource)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    HMENU menu = instance == sim::program_instance() ? sim::detail::load_menu(resource) : nullptr;
    if (!menu)
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return menu;
}

HMENU WINAPI GetSubMenu(HMENU menu, int position) {
    sim::detail::enter("GetSubMenu", sim::detail::format("%d", position));
    sim::detail::Menu* object = sim::detail::menu_object(menu);
    if (!object || position < 0 || position >= static_cast<int>(object->items.size()))
        return nullptr;
    return object->items[static_cast<size_t>(position)].popup;
}

BOOL WINAPI DestroyMenu(HMENU menu) {
    sim::detail::enter("DestroyMenu", "");
    sim::detail::Menu* object = sim::detail::menu_object(menu);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    // Its popups go with it.
    std::vector<HMENU> popups;
    for (const sim::detail::MenuItem& item : object->items)
        if (item.popup)
            popups.push_back(item.popup);
    sim::detail::menus().erase(reinterpret_cast<uintptr_t>(menu));
    for (HMENU popup : popups)
        DestroyMenu(popup);
    return TRUE;
}
