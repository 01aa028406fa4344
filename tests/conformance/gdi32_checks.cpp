// gdi32: the colour format of a bitmap compatible with a memory context or with the screen, and
// how BitBlt converts between colour and monochrome.
#include "tests/conformance/conformance.h"

namespace {

const COLORREF kWhite = RGB(255, 255, 255);
const COLORREF kBlack = RGB(0, 0, 0);

int bits_per_pixel(HBITMAP bitmap) {
    BITMAP info = {};
    if (GetObjectA(bitmap, sizeof info, &info) != sizeof info)
        return -1;
    return info.bmBitsPixel * info.bmPlanes;
}

void fill(HDC dc, COLORREF color) {
    RECT all = {0, 0, 8, 8};
    HBRUSH brush = CreateSolidBrush(color);
    FillRect(dc, &all, brush);
    DeleteObject(brush);
}

// A memory context holding a new bitmap compatible with `compatible_with`.
struct Surface {
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ old = nullptr;
    Surface(HDC screen, HDC compatible_with) {
        dc = CreateCompatibleDC(screen);
        bitmap = CreateCompatibleBitmap(compatible_with ? compatible_with : dc, 8, 8);
        old = SelectObject(dc, bitmap);
    }
    ~Surface() {
        SelectObject(dc, old);
        DeleteObject(bitmap);
        DeleteDC(dc);
    }
};

} // namespace

CONFORMANCE_CHECK(gdi32_bitmap_compatible_with_a_new_memory_context_is_monochrome) {
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP from_memory = CreateCompatibleBitmap(memory, 8, 8);
    HBITMAP from_screen = CreateCompatibleBitmap(screen, 8, 8);
    EXPECT_EQ(bits_per_pixel(from_memory), 1);
    EXPECT_EQ(bits_per_pixel(from_screen),
              GetDeviceCaps(screen, BITSPIXEL) * GetDeviceCaps(screen, PLANES));
    EXPECT(bits_per_pixel(from_screen) >= 16);
    DeleteObject(from_memory);
    DeleteObject(from_screen);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
}

CONFORMANCE_CHECK(gdi32_a_monochrome_bitmap_holds_only_black_and_white) {
    HDC screen = GetDC(nullptr);
    {
        Surface mono(screen, nullptr);
        Surface colour(screen, screen);
        fill(mono.dc, RGB(240, 240, 240));
        fill(colour.dc, RGB(240, 240, 240));
        COLORREF pixel = GetPixel(mono.dc, 2, 2);
        EXPECT(pixel == kWhite || pixel == kBlack);
        EXPECT_EQ(GetPixel(colour.dc, 2, 2), RGB(240, 240, 240));
    }
    ReleaseDC(nullptr, screen);
}

CONFORMANCE_CHECK(gdi32_bitblt_to_monochrome_makes_the_source_background_white) {
    HDC screen = GetDC(nullptr);
    {
        Surface colour(screen, screen);
        Surface mono(screen, nullptr);
        fill(colour.dc, RGB(200, 10, 10));
        SetBkColor(colour.dc, RGB(200, 10, 10));
        EXPECT(BitBlt(mono.dc, 0, 0, 8, 8, colour.dc, 0, 0, SRCCOPY));
        EXPECT_EQ(GetPixel(mono.dc, 3, 3), kWhite);
        SetBkColor(colour.dc, RGB(1, 2, 3));
        EXPECT(BitBlt(mono.dc, 0, 0, 8, 8, colour.dc, 0, 0, SRCCOPY));
        EXPECT_EQ(GetPixel(mono.dc, 3, 3), kBlack);
    }
    ReleaseDC(nullptr, screen);
}

CONFORMANCE_CHECK(gdi32_bitblt_from_monochrome_takes_the_destination_colours) {
    HDC screen = GetDC(nullptr);
    {
        Surface mono(screen, nullptr);
        Surface colour(screen, screen);
        SetTextColor(colour.dc, RGB(0, 0, 255));
        SetBkColor(colour.dc, RGB(0, 255, 0));
        fill(mono.dc, kWhite);
        EXPECT(BitBlt(colour.dc, 0, 0, 8, 8, mono.dc, 0, 0, SRCCOPY));
        EXPECT_EQ(GetPixel(colour.dc, 3, 3), RGB(0, 255, 0));
        fill(mono.dc, kBlack);
        EXPECT(BitBlt(colour.dc, 0, 0, 8, 8, mono.dc, 0, 0, SRCCOPY));
        EXPECT_EQ(GetPixel(colour.dc, 3, 3), RGB(0, 0, 255));
    }
    ReleaseDC(nullptr, screen);
}

CONFORMANCE_CHECK(gdi32_bitblt_between_colour_bitmaps_keeps_the_colour) {
    HDC screen = GetDC(nullptr);
    {
        Surface from(screen, screen);
        Surface to(screen, screen);
        fill(from.dc, RGB(12, 34, 56));
        EXPECT(BitBlt(to.dc, 0, 0, 8, 8, from.dc, 0, 0, SRCCOPY));
        EXPECT_EQ(GetPixel(to.dc, 4, 4), RGB(12, 34, 56));
    }
    ReleaseDC(nullptr, screen);
}
