// The painted header left of the report: three centred text lines and the product picture,
// drawn off-screen and copied to the window in one piece so it does not flicker.
#include "app/main_window.h"

const char kProductName[] = "Quorvale";
const char kProductSubtitle[] = "Driver Installer";

namespace {

const int kPictureOffsetX = 10;
const int kPictureOffsetY = 120;
const int kTextLeft = 20;
const int kTextRight = 180;
const int kProductTop = 50;
const int kProductBottom = 70;
const int kSubtitleTop = 70;
const int kSubtitleBottom = 90;
const int kVersionTop = 90;
const int kVersionBottom = 110;
const int kWholeText = -1;

void draw_line(HDC dc, const char* text, int top, int bottom) {
    RECT rect = {kTextLeft, top, kTextRight, bottom};
    DrawTextA(dc, text, kWholeText, &rect, DT_CENTER);
}

// Copies the header bitmap into dc with its top-left corner at (x, y); the copy asks for width by
// height, of which only the picture's own pixels carry content.
void draw_picture(HDC paint_dc, HDC dc, int x, int y, int width, int height) {
    HDC picture_dc = CreateCompatibleDC(paint_dc);
    if (!picture_dc)
        return;
    HBITMAP picture = LoadBitmapA(app.instance, MAKEINTRESOURCEA(kResourceHeaderBitmap));
    if (picture) {
        HGDIOBJ kept = SelectObject(picture_dc, picture);
        if (kept) {
            BitBlt(dc, x, y, width, height, picture_dc, 0, 0, SRCCOPY);
            SelectObject(picture_dc, kept);
        }
    }
    // The context goes first: it lets go of the picture even if the restore above failed.
    DeleteDC(picture_dc);
    if (picture)
        DeleteObject(picture);
}

} // namespace

void paint_header(HWND window, PAINTSTRUCT* paint) {
    RECT client;
    if (!GetClientRect(window, &client))
        return;
    int width = client.right - client.left;
    int height = client.bottom - client.top;
    HDC dc = CreateCompatibleDC(paint->hdc);
    if (!dc)
        return;
    HBITMAP image = CreateCompatibleBitmap(paint->hdc, width, height);
    HGDIOBJ kept = image ? SelectObject(dc, image) : nullptr;
    if (kept) {
        HBRUSH face = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
        if (face) {
            FillRect(dc, &client, face);
            DeleteObject(face);
        }
        draw_picture(paint->hdc, dc, client.left + kPictureOffsetX, client.top + kPictureOffsetY,
                     width, height);
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
        draw_line(dc, kProductName, kProductTop, kProductBottom);
        draw_line(dc, kProductSubtitle, kSubtitleTop, kSubtitleBottom);
        draw_line(dc, app.version_text, kVersionTop, kVersionBottom);
        BitBlt(paint->hdc, client.left, client.top, width, height, dc, 0, 0, SRCCOPY);
        SelectObject(dc, kept);
    }
    // The context goes first: it lets go of the off-screen bitmap even if the restore failed,
    // so the bitmap can always be deleted.
    DeleteDC(dc);
    if (image)
        DeleteObject(image);
}
