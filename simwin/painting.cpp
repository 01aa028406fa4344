// Simulated painting: paint, window and memory device contexts, bitmaps (colour or monochrome)
// and brushes with their selection rules, and drawing that records what each bitmap and finally
// each window shows (fills, the header picture, texts), so tests can read the painted header,
// every operation that drew on a window, and count what stays open.
#include <algorithm>
#include <cstring>

#include "simwin/windows_model.h"

namespace sim {
namespace detail {
namespace {

constexpr uintptr_t kStockBitmap = 0x50001;      // the 1 x 1 bitmap a new memory context holds
constexpr uintptr_t kLastSystemColourBrush = 31; // (HBRUSH)(COLOR_x + 1)
constexpr int kPictureWidth = 180;               // used when the bitmap file cannot be read
constexpr int kPictureHeight = 136;
constexpr int kLineHeight = 16;
constexpr int kScreenBitsPerPixel = 32; // the colour format of the screen and its bitmaps
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kBlack = RGB(0, 0, 0);

enum class ObjectKind { Bitmap, Brush };

struct GdiObject {
    ObjectKind kind = ObjectKind::Bitmap;
    int width = 0, height = 0;
    int bits_per_pixel = kScreenBitsPerPixel; // 1: a monochrome bitmap
    COLORREF color = 0;
    HDC selected_in = nullptr;
    std::vector<PaintedItem> content;
};

struct DeviceContext {
    HWND window = nullptr; // a paint or window context's window
    bool screen = false;   // a context of the window or of the whole screen (not BeginPaint's)
    uintptr_t bitmap = kStockBitmap;
    uintptr_t brush = 0;
    int background_mode = OPAQUE;
    COLORREF text_color = 0;
    COLORREF background_color = kWhite;
};

struct GdiState {
    std::map<uintptr_t, GdiObject> objects;
    std::map<uintptr_t, DeviceContext> contexts;
    std::map<HWND, int> paints;
};

GdiState& state() {
    static GdiState instance;
    return instance;
}

DeviceContext* context(HDC dc) {
    auto it = state().contexts.find(reinterpret_cast<uintptr_t>(dc));
    return it == state().contexts.end() ? nullptr : &it->second;
}

GdiObject* object(uintptr_t handle) {
    auto it = state().objects.find(handle);
    return it == state().objects.end() ? nullptr : &it->second;
}

uintptr_t new_object(const GdiObject& value) {
    uintptr_t handle = next_handle_value();
    state().objects[handle] = value;
    count_open(Resource::GdiObject, 1);
    return handle;
}

HDC new_context(const DeviceContext& value) {
    uintptr_t handle = next_handle_value();
    state().contexts[handle] = value;
    count_open(Resource::DeviceContext, 1);
    return reinterpret_cast<HDC>(handle);
}

// The colour format of what drawing on dc changes: 1 for a memory context holding a monochrome
// bitmap (a new memory context holds the 1 x 1 monochrome stock bitmap), else the screen's.
int bits_of(const DeviceContext& c) {
    if (c.window || c.screen)
        return kScreenBitsPerPixel;
    if (c.bitmap == kStockBitmap)
        return 1;
    GdiObject* bitmap = object(c.bitmap);
    return bitmap ? bitmap->bits_per_pixel : kScreenBitsPerPixel;
}

// A colour as a monochrome bitmap keeps it: black or white, by its brightness.
COLORREF to_monochrome(COLORREF color) {
    unsigned sum = (color & 0xFF) + ((color >> 8) & 0xFF) + ((color >> 16) & 0xFF);
    return sum >= 3 * 128 ? kWhite : kBlack;
}

// An item as a monochrome bitmap keeps it.
PaintedItem monochrome_item(PaintedItem item) {
    item.color = to_monochrome(item.color);
    if (item.kind == PaintedItem::Picture)
        item.monochrome = true;
    return item;
}

// Where drawing on dc lands: the selected bitmap's content or the window's surface; the bounds
// of that surface in *area. A context of the whole screen draws nowhere.
std::vector<PaintedItem>* target(HDC dc, RECT* area) {
    DeviceContext* c = context(dc);
    if (!c)
        return nullptr;
    if (c->screen && !c->window) {
        static std::vector<PaintedItem> nowhere;
        nowhere.clear();
        *area = RECT{0, 0, 0, 0};
        return &nowhere;
    }
    if (c->window) {
        Window* w = window_object(c->window);
        if (!w)
            return nullptr;
        int width = 0, height = 0;
        client_size(*w, &width, &height);
        *area = RECT{0, 0, width, height};
        return &w->surface;
    }
    GdiObject* bitmap = object(c->bitmap);
    if (!bitmap)
        return nullptr;
    *area = RECT{0, 0, bitmap->width, bitmap->height};
    return &bitmap->content;
}

bool inside(const RECT& inner, const RECT& outer) {
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
           inner.bottom <= outer.bottom;
}

// The log of operations drawn directly on dc's window, or null for a memory context.
std::vector<PaintedItem>* screen_log(HDC dc) {
    DeviceContext* c = context(dc);
    Window* w = c && c->window ? window_object(c->window) : nullptr;
    return w ? &w->screen_log : nullptr;
}

// Adds item to the surface, cut to area; what it covers completely is gone.
void paint_item(std::vector<PaintedItem>* surface, PaintedItem item, const RECT& area) {
    RECT visible;
    if (!intersect(item.rect, area, &visible))
        return;
    if (item.kind != PaintedItem::Text) {
        item.rect = visible;
        surface->erase(
            std::remove_if(surface->begin(), surface->end(),
                           [&](const PaintedItem& old) { return inside(old.rect, visible); }),
            surface->end());
    }
    surface->push_back(item);
}

} // namespace

bool intersect(const RECT& a, const RECT& b, RECT* out) {
    RECT r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
           std::min(a.bottom, b.bottom)};
    if (r.left >= r.right || r.top >= r.bottom)
        return false;
    *out = r;
    return true;
}

void reset_gdi() {
    state() = GdiState();
}

void fill_rect(HDC dc, const RECT& rect, COLORREF color) {
    RECT area;
    std::vector<PaintedItem>* surface = target(dc, &area);
    DeviceContext* c = context(dc);
    if (!surface || !c)
        return;
    PaintedItem fill;
    fill.kind = PaintedItem::Fill;
    fill.rect = rect;
    fill.color = bits_of(*c) == 1 ? to_monochrome(color) : color;
    if (std::vector<PaintedItem>* log = screen_log(dc))
        log->push_back(fill);
    paint_item(surface, fill, area);
}

COLORREF brush_color(HBRUSH brush) {
    GdiObject* o = object(reinterpret_cast<uintptr_t>(brush));
    return o && o->kind == ObjectKind::Brush ? o->color : 0;
}

} // namespace detail

std::vector<PaintedItem> painted(HWND window) {
    const detail::Window* w = detail::window_object(window);
    return w ? w->surface : std::vector<PaintedItem>();
}

std::vector<PaintedItem> drawn_on_screen(HWND window) {
    const detail::Window* w = detail::window_object(window);
    return w ? w->screen_log : std::vector<PaintedItem>();
}

int paint_count(HWND window) {
    auto it = detail::state().paints.find(window);
    return it == detail::state().paints.end() ? 0 : it->second;
}

} // namespace sim

using sim::PaintedItem;
using sim::detail::enter;
using sim::detail::format;
using sim::detail::record;

HDC WINAPI BeginPaint(HWND window, LPPAINTSTRUCT paint) {
    if (enter("BeginPaint", format("%p", static_cast<void*>(window))))
        return nullptr;
    sim::detail::Window* w = sim::detail::window_object(window);
    if (!w || !paint) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    sim::detail::DeviceContext c;
    c.window = window;
    HDC dc = sim::detail::new_context(c);
    std::memset(paint, 0, sizeof *paint);
    paint->hdc = dc;
    int width = 0, height = 0;
    sim::detail::client_size(*w, &width, &height);
    paint->rcPaint = RECT{0, 0, width, height};
    bool erase = w->needs_erase;
    w->needs_paint = false;
    w->needs_erase = false;
    ++sim::detail::state().paints[window];
    if (erase)
        paint->fErase =
            !sim::detail::send_message(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    return dc;
}

BOOL WINAPI EndPaint(HWND window, const PAINTSTRUCT* paint) {
    record("EndPaint", format("%p", static_cast<void*>(window)));
    if (!paint)
        return FALSE;
    auto& contexts = sim::detail::state().contexts;
    auto it = contexts.find(reinterpret_cast<uintptr_t>(paint->hdc));
    if (it == contexts.end() || it->second.window != window)
        return TRUE;
    contexts.erase(it);
    sim::detail::count_open(sim::Resource::DeviceContext, -1);
    return TRUE;
}

HDC WINAPI CreateCompatibleDC(HDC dc) {
    if (enter("CreateCompatibleDC", format("%p", static_cast<void*>(dc))))
        return nullptr;
    if (dc && !sim::detail::context(dc))
        return nullptr;
    return sim::detail::new_context(sim::detail::DeviceContext());
}

HBITMAP WINAPI CreateCompatibleBitmap(HDC dc, int width, int height) {
    if (enter("CreateCompatibleBitmap", format("%p %dx%d", static_cast<void*>(dc), width, height)))
        return nullptr;
    sim::detail::DeviceContext* c = sim::detail::context(dc);
    if (!c || width < 0 || height < 0)
        return nullptr;
    sim::detail::GdiObject bitmap;
    bitmap.width = width;
    bitmap.height = height;
    // The format of the context's device: for a memory context, that of the bitmap it holds.
    bitmap.bits_per_pixel = sim::detail::bits_of(*c);
    return reinterpret_cast<HBITMAP>(sim::detail::new_object(bitmap));
}

HBITMAP WINAPI LoadBitmapA(HINSTANCE instance, LPCSTR name) {
    std::string resource = name ? sim::detail::resource_name(name) : "";
    if (enter("LoadBitmapA", resource))
        return nullptr;
    if (instance != sim::program_instance() || !sim::detail::resources().bitmaps.count(resource)) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    sim::detail::GdiObject bitmap;
    if (!sim::detail::bitmap_size(resource, &bitmap.width, &bitmap.height)) {
        bitmap.width = sim::detail::kPictureWidth;
        bitmap.height = sim::detail::kPictureHeight;
    }
    PaintedItem picture;
    picture.kind = PaintedItem::Picture;
    picture.rect = RECT{0, 0, bitmap.width, bitmap.height};
    picture.text = resource;
    bitmap.content.push_back(picture);
    return reinterpret_cast<HBITMAP>(sim::detail::new_object(bitmap));
}

HBRUSH WINAPI CreateSolidBrush(COLORREF color) {
    if (enter("CreateSolidBrush", format("%#x", color)))
        return nullptr;
    sim::detail::GdiObject brush;
    brush.kind = sim::detail::ObjectKind::Brush;
    brush.color = color;
    return reinterpret_cast<HBRUSH>(sim::detail::new_object(brush));
}

HGDIOBJ WINAPI SelectObject(HDC dc, HGDIOBJ handle) {
    if (enter("SelectObject", format("%p %p", static_cast<void*>(dc), handle)))
        return nullptr;
    sim::detail::DeviceContext* c = sim::detail::context(dc);
    uintptr_t value = reinterpret_cast<uintptr_t>(handle);
    bool stock = value == sim::detail::kStockBitmap;
    sim::detail::GdiObject* o = sim::detail::object(value);
    if (!c || (!o && !stock))
        return nullptr;
    if (stock || o->kind == sim::detail::ObjectKind::Bitmap) {
        // A bitmap fits only a memory context, and only one context at a time.
        if (c->window || c->screen || (o && o->selected_in && o->selected_in != dc))
            return nullptr;
        uintptr_t previous = c->bitmap;
        if (sim::detail::GdiObject* old = sim::detail::object(previous))
            old->selected_in = nullptr;
        c->bitmap = value;
        if (o)
            o->selected_in = dc;
        return reinterpret_cast<HGDIOBJ>(previous);
    }
    uintptr_t previous = c->brush;
    if (sim::detail::GdiObject* old = sim::detail::object(previous))
        old->selected_in = nullptr;
    c->brush = value;
    o->selected_in = dc;
    return reinterpret_cast<HGDIOBJ>(previous);
}

BOOL WINAPI DeleteObject(HGDIOBJ handle) {
    record("DeleteObject", format("%p", handle));
    uintptr_t value = reinterpret_cast<uintptr_t>(handle);
    if (value == sim::detail::kStockBitmap)
        return TRUE;
    sim::detail::GdiObject* o = sim::detail::object(value);
    // An object still selected into a context is not deleted.
    if (!o || o->selected_in)
        return FALSE;
    sim::detail::state().objects.erase(value);
    sim::detail::count_open(sim::Resource::GdiObject, -1);
    return TRUE;
}

BOOL WINAPI DeleteDC(HDC dc) {
    record("DeleteDC", format("%p", static_cast<void*>(dc)));
    sim::detail::DeviceContext* c = sim::detail::context(dc);
    if (!c || c->window)
        return FALSE;
    // The objects it held stay alive, no longer selected.
    for (uintptr_t held : {c->bitmap, c->brush})
        if (sim::detail::GdiObject* o = sim::detail::object(held))
            o->selected_in = nullptr;
    sim::detail::state().contexts.erase(reinterpret_cast<uintptr_t>(dc));
    sim::detail::count_open(sim::Resource::DeviceContext, -1);
    return TRUE;
}

int WINAPI FillRect(HDC dc, const RECT* rect, HBRUSH brush) {
    if (enter("FillRect", format("%p", static_cast<void*>(dc))))
        return 0;
    uintptr_t value = reinterpret_cast<uintptr_t>(brush);
    COLORREF color = 0;
    if (value && value <= sim::detail::kLastSystemColourBrush) {
        color = sim::detail::sys_color(static_cast<int>(value - 1));
    } else {
        sim::detail::GdiObject* o = sim::detail::object(value);
        if (!o || o->kind != sim::detail::ObjectKind::Brush)
            return 0;
        color = o->color;
    }
    RECT area;
    if (!sim::detail::target(dc, &area) || !rect)
        return 0;
    sim::detail::fill_rect(dc, *rect, color);
    return 1;
}

int WINAPI DrawTextA(HDC dc, LPCSTR text, int count, LPRECT rect, UINT format_flags) {
    if (enter("DrawTextA", format("\"%s\" %#x", text ? text : "", format_flags)))
        return 0;
    sim::detail::DeviceContext* c = sim::detail::context(dc);
    RECT area;
    std::vector<PaintedItem>* surface = sim::detail::target(dc, &area);
    if (!c || !surface || !text || !rect)
        return 0;
    PaintedItem item;
    item.kind = PaintedItem::Text;
    item.text = count < 0 ? std::string(text) : std::string(text, static_cast<size_t>(count));
    item.rect = *rect;
    item.color = c->text_color;
    item.format = format_flags;
    item.transparent = c->background_mode == TRANSPARENT;
    if (sim::detail::bits_of(*c) == 1)
        item = sim::detail::monochrome_item(item);
    if (std::vector<PaintedItem>* log = sim::detail::screen_log(dc))
        log->push_back(item);
    sim::detail::paint_item(surface, item, area);
    return sim::detail::kLineHeight;
}

int WINAPI SetBkMode(HDC dc, int mode) {
    if (enter("SetBkMode", format("%d", mode)))
        return 0;
    sim::detail::DeviceContext* c = sim::detail::context(dc);
    if (!c || (mode != TRANSPARENT && mode != OPAQUE))
        return 0;
    int previous = c->background_mode;
    c->background_mode = mode;
    return previous;
}

COLORREF WINAPI SetTextColor(HDC dc, COLORREF color) {
    constexpr COLORREF kClrInvalid = 0xFFFFFFFF;
    if (enter("SetTextColor", format("%#x", color)))
        return kClrInvalid;
    sim::detail::DeviceContext* c = sim::detail::context(dc);
    if (!c)
        return kClrInvalid;
    COLORREF previous = c->text_color;
    c->text_color = color;
    return previous;
}

BOOL WINAPI BitBlt(HDC dest, int x, int y, int width, int height, HDC source, int source_x,
                   int source_y, DWORD rop) {
    if (enter("BitBlt", format("%d,%d %dx%d from %d,%d", x, y, width, height, source_x, source_y)))
        return FALSE;
    RECT dest_area{}, source_area{};
    std::vector<PaintedItem>* to = sim::detail::target(dest, &dest_area);
    std::vector<PaintedItem>* from = sim::detail::target(source, &source_area);
    sim::detail::DeviceContext* to_context = sim::detail::context(dest);
    sim::detail::DeviceContext* from_context = sim::detail::context(source);
    if (!to || !from || rop != SRCCOPY)
        return FALSE;
    int to_bits = sim::detail::bits_of(*to_context);
    int from_bits = sim::detail::bits_of(*from_context);
    // The copied block: the asked rectangle, cut to the destination and to what the source
    // holds, in destination coordinates.
    LONG dx = x - source_x, dy = y - source_y;
    RECT block{x, y, x + width, y + height};
    RECT source_block{source_area.left + dx, source_area.top + dy, source_area.right + dx,
                      source_area.bottom + dy};
    RECT copied;
    if (!sim::detail::intersect(block, dest_area, &copied) ||
        !sim::detail::intersect(copied, source_block, &copied))
        return TRUE;
    std::vector<PaintedItem> items = *from;
    if (std::vector<PaintedItem>* log = sim::detail::screen_log(dest)) {
        PaintedItem copy;
        copy.kind = PaintedItem::Copy;
        copy.rect = copied;
        log->push_back(copy);
    }
    // What lay under the copied block is overwritten.
    to->erase(std::remove_if(
                  to->begin(), to->end(),
                  [&](const PaintedItem& old) { return sim::detail::inside(old.rect, copied); }),
              to->end());
    for (PaintedItem item : items) {
        // Colour to monochrome: the source's background colour becomes white, all else black.
        // Monochrome to colour: white becomes the destination's background colour, black its
        // text colour.
        if (to_bits == 1 && from_bits != 1) {
            bool background = item.color == from_context->background_color;
            item = sim::detail::monochrome_item(item);
            item.color = background ? sim::detail::kWhite : sim::detail::kBlack;
        } else if (from_bits == 1 && to_bits != 1) {
            item.color = item.color == sim::detail::kWhite ? to_context->background_color
                                                           : to_context->text_color;
        }
        item.rect.left += dx;
        item.rect.right += dx;
        item.rect.top += dy;
        item.rect.bottom += dy;
        sim::detail::paint_item(to, item, copied);
    }
    return TRUE;
}

COLORREF WINAPI SetBkColor(HDC dc, COLORREF color) {
    if (enter("SetBkColor", format("%#x", color)))
        return CLR_INVALID;
    sim::detail::DeviceContext* c = sim::detail::context(dc);
    if (!c)
        return CLR_INVALID;
    COLORREF previous = c->background_color;
    c->background_color = color;
    return previous;
}

HDC WINAPI GetDC(HWND window) {
    if (enter("GetDC", format("%p", static_cast<void*>(window))))
        return nullptr;
    if (window && !sim::detail::window_object(window)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    sim::detail::DeviceContext c;
    c.window = window;
    c.screen = true;
    return sim::detail::new_context(c);
}

int WINAPI ReleaseDC(HWND window, HDC dc) {
    enter("ReleaseDC", format("%p", static_cast<void*>(window)));
    auto& contexts = sim::detail::state().contexts;
    auto it = contexts.find(reinterpret_cast<uintptr_t>(dc));
    if (it == contexts.end() || !it->second.screen || it->second.window != window)
        return 0;
    contexts.erase(it);
    sim::detail::count_open(sim::Resource::DeviceContext, -1);
    return 1;
}

COLORREF WINAPI GetPixel(HDC dc, int x, int y) {
    if (enter("GetPixel", format("%d,%d", x, y)))
        return CLR_INVALID;
    RECT area;
    std::vector<PaintedItem>* surface = sim::detail::target(dc, &area);
    if (!surface || x < area.left || x >= area.right || y < area.top || y >= area.bottom)
        return CLR_INVALID;
    // The last fill under the point; a picture's pixels are not modelled, nor are texts.
    for (auto it = surface->rbegin(); it != surface->rend(); ++it) {
        const RECT& r = it->rect;
        if (x < r.left || x >= r.right || y < r.top || y >= r.bottom)
            continue;
        if (it->kind == PaintedItem::Fill)
            return it->color;
        if (it->kind == PaintedItem::Picture)
            return CLR_INVALID;
    }
    return sim::detail::kBlack;
}

int WINAPI GetObjectA(HGDIOBJ handle, int size, LPVOID out) {
    if (enter("GetObjectA", format("%p size=%d", handle, size)))
        return 0;
    uintptr_t value = reinterpret_cast<uintptr_t>(handle);
    sim::detail::GdiObject stock;
    stock.width = stock.height = 1;
    stock.bits_per_pixel = 1;
    sim::detail::GdiObject* o =
        value == sim::detail::kStockBitmap ? &stock : sim::detail::object(value);
    if (!o || o->kind != sim::detail::ObjectKind::Bitmap)
        return 0;
    if (!out)
        return sizeof(BITMAP);
    if (size < static_cast<int>(sizeof(BITMAP)))
        return 0;
    BITMAP info{};
    info.bmWidth = o->width;
    info.bmHeight = o->height;
    // Rows are padded to a whole number of 16-bit words.
    info.bmWidthBytes = ((o->width * o->bits_per_pixel + 15) / 16) * 2;
    info.bmPlanes = 1;
    info.bmBitsPixel = static_cast<WORD>(o->bits_per_pixel);
    std::memcpy(out, &info, sizeof info);
    return sizeof(BITMAP);
}

int WINAPI GetDeviceCaps(HDC dc, int index) {
    enter("GetDeviceCaps", format("%d", index));
    if (!sim::detail::context(dc))
        return 0;
    // A memory context answers for the device it is compatible with: the screen.
    switch (index) {
    case BITSPIXEL:
        return sim::detail::kScreenBitsPerPixel;
    case PLANES:
        return 1;
    default:
        return 0;
    }
}
