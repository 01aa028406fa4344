// The painted header: what the window shows after a paint, and that painting, however often and
// in whatever client size, leaves no device context or GDI object behind.
#include <cstdio>

#include "tests/app/harness.h"

using HeaderTest = AppTest;

namespace {

const COLORREF kButtonFace = RGB(240, 240, 240);

struct Line {
    const char* text;
    RECT rect;
};
const Line kLines[] = {
    {"Quorvale", {20, 50, 180, 70}},
    {"Driver Installer", {20, 70, 180, 90}},
    {"ver 1.2.78", {20, 90, 180, 110}},
};

std::vector<sim::PaintedItem> of_kind(HWND window, sim::PaintedItem::Kind kind) {
    std::vector<sim::PaintedItem> items;
    for (const sim::PaintedItem& item : sim::painted(window))
        if (item.kind == kind)
            items.push_back(item);
    return items;
}

void expect_rect(const RECT& r, LONG left, LONG top, LONG right, LONG bottom) {
    EXPECT_EQ(r.left, left);
    EXPECT_EQ(r.top, top);
    EXPECT_EQ(r.right, right);
    EXPECT_EQ(r.bottom, bottom);
}

void expect_header_texts(HWND window) {
    std::vector<sim::PaintedItem> texts = of_kind(window, sim::PaintedItem::Text);
    ASSERT_EQ(texts.size(), 3u);
    for (size_t i = 0; i < texts.size(); ++i) {
        SCOPED_TRACE(kLines[i].text);
        EXPECT_EQ(texts[i].text, kLines[i].text);
        expect_rect(texts[i].rect, kLines[i].rect.left, kLines[i].rect.top, kLines[i].rect.right,
                    kLines[i].rect.bottom);
        EXPECT_EQ(texts[i].format, static_cast<UINT>(DT_CENTER));
        EXPECT_TRUE(texts[i].transparent);
        EXPECT_EQ(texts[i].color, RGB(0, 0, 0));
    }
}

} // namespace

TEST_F(HeaderTest, ShowsTheThreeLinesAndThePictureOverTheButtonFace) {
    sim::at(0, [] {
        HWND window = main_window();
        sim::set_client_size(window, 584, 381);
    });
    sim::at(10, [] {
        HWND window = main_window();
        EXPECT_GE(sim::paint_count(window), 2);
        std::vector<sim::PaintedItem> fills = of_kind(window, sim::PaintedItem::Fill);
        ASSERT_EQ(fills.size(), 1u);
        expect_rect(fills[0].rect, 0, 0, 584, 381);
        EXPECT_EQ(fills[0].color, kButtonFace);
        std::vector<sim::PaintedItem> pictures = of_kind(window, sim::PaintedItem::Picture);
        ASSERT_EQ(pictures.size(), 1u);
        EXPECT_EQ(pictures[0].text, "#" + std::to_string(IDB_HEADER));
        EXPECT_FALSE(pictures[0].monochrome) << "the picture passed through a monochrome bitmap";
        expect_rect(pictures[0].rect, 10, 120, 190, 256);
        expect_header_texts(window);
        press_exit();
    });
    EXPECT_EQ(installer_main(), 0);
}

// Under a theme whose window text is not black (high contrast), the header's lines take the
// theme's colour, and the header its button face.
TEST_F(HeaderTest, LinesAndBackgroundFollowTheThemesColours) {
    sim::set_system_color(COLOR_WINDOWTEXT, RGB(255, 255, 0));
    sim::set_system_color(COLOR_BTNFACE, RGB(0, 0, 128));
    sim::at(10, [] {
        HWND window = main_window();
        std::vector<sim::PaintedItem> fills = of_kind(window, sim::PaintedItem::Fill);
        ASSERT_EQ(fills.size(), 1u);
        EXPECT_EQ(fills[0].color, RGB(0, 0, 128));
        std::vector<sim::PaintedItem> texts = of_kind(window, sim::PaintedItem::Text);
        ASSERT_EQ(texts.size(), 3u);
        for (const sim::PaintedItem& text : texts)
            EXPECT_EQ(text.color, RGB(255, 255, 0)) << text.text;
        press_exit();
    });
    EXPECT_EQ(installer_main(), 0);
}

TEST_F(HeaderTest, TheWindowIsPaintedBeforeTheLoopRuns) {
    sim::at(0, [] {
        EXPECT_EQ(sim::paint_count(main_window()), 1);
        expect_header_texts(main_window());
        press_exit();
    });
    EXPECT_EQ(installer_main(), 0);
    EXPECT_EQ(sim::count_calls("BeginPaint"), sim::count_calls("EndPaint"));
}

// Without flicker: no background erase reaches the screen, and every paint puts the whole client
// area there in one copy.
TEST_F(HeaderTest, EveryPaintIsOneCopyOfTheWholeClientArea) {
    sim::at(0, [] { sim::set_client_size(main_window(), 584, 381); });
    sim::at(10, [] { sim::invalidate(main_window()); });
    sim::at(20, [] {
        sim::set_client_size(main_window(), 300, 200);
        sim::invalidate(main_window());
    });
    sim::at(30, [] {
        HWND window = main_window();
        std::vector<sim::PaintedItem> drawn = sim::drawn_on_screen(window);
        EXPECT_EQ(static_cast<int>(drawn.size()), sim::paint_count(window));
        for (const sim::PaintedItem& item : drawn)
            EXPECT_EQ(item.kind, sim::PaintedItem::Copy)
                << "drawn on screen: kind " << item.kind << " colour " << item.color;
        ASSERT_FALSE(drawn.empty());
        expect_rect(drawn.back().rect, 0, 0, 300, 200);
        press_exit();
    });
    EXPECT_EQ(installer_main(), 0);
}

TEST_F(HeaderTest, RepeatedPaintingInAnyClientSizeLeavesNothingBehind) {
    const std::pair<int, int> sizes[] = {{584, 381}, {584, 119}, {300, 60},
                                         {150, 0},   {0, 0},     {584, 381}};
    uint64_t t = 10;
    for (auto size : sizes) {
        for (int repeat = 0; repeat < 3; ++repeat) {
            sim::at(t, [size] {
                sim::set_client_size(main_window(), size.first, size.second);
                sim::invalidate(main_window());
            });
            sim::at(t + 1, [size] {
                SCOPED_TRACE(std::to_string(size.first) + "x" + std::to_string(size.second));
                // Only the window's registration for device notices is open while it runs.
                EXPECT_EQ(sim::open_summary(), "1 device notification registrations");
                // A client area lower than 120 pixels cuts the picture off entirely.
                std::vector<sim::PaintedItem> pictures =
                    of_kind(main_window(), sim::PaintedItem::Picture);
                if (size.second < 120) {
                    EXPECT_TRUE(pictures.empty());
                }
            });
            t += 10;
        }
    }
    sim::at(t, [] {
        expect_header_texts(main_window());
        press_exit();
    });
    EXPECT_EQ(installer_main(), 0);
    EXPECT_GE(sim::count_calls("BeginPaint"), 18);
    EXPECT_EQ(sim::count_calls("CreateCompatibleDC"), sim::count_calls("DeleteDC"));
    EXPECT_EQ(sim::count_calls("LoadBitmapA") + sim::count_calls("CreateCompatibleBitmap") +
                  sim::count_calls("CreateSolidBrush"),
              sim::count_calls("DeleteObject"));
}

// The picture sits at (10, 120) and is 180 by 136 pixels; in a small client area only the
// area's own edges cut it, whichever of the two is the narrower.
TEST_F(HeaderTest, ThePictureIsCutOnlyByTheClientAreasEdges) {
    struct Case {
        int width, height;
        RECT visible;
    };
    static const Case cases[] = {
        {584, 150, {10, 120, 190, 150}},
        {100, 381, {10, 120, 100, 256}},
        {150, 170, {10, 120, 150, 170}},
    };
    uint64_t t = 10;
    for (const Case& c : cases) {
        sim::at(t, [c] {
            sim::set_client_size(main_window(), c.width, c.height);
            sim::invalidate(main_window());
        });
        sim::at(t + 1, [c] {
            SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
            std::vector<sim::PaintedItem> pictures =
                of_kind(main_window(), sim::PaintedItem::Picture);
            ASSERT_EQ(pictures.size(), 1u);
            expect_rect(pictures[0].rect, c.visible.left, c.visible.top, c.visible.right,
                        c.visible.bottom);
        });
        t += 10;
    }
    sim::at(t, [] { press_exit(); });
    EXPECT_EQ(installer_main(), 0);
}

TEST_F(HeaderTest, PaintingWithAnyCallFailingReleasesEverythingItTook) {
    // A window of its own, so the sweep covers painting alone.
    WNDCLASSEXA window_class = {};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = DefWindowProcA;
    window_class.lpszClassName = "HeaderSweep";
    ASSERT_NE(RegisterClassExA(&window_class), 0);
    HWND window = CreateWindowExA(0, "HeaderSweep", "", WS_OVERLAPPEDWINDOW, 0, 0, 600, 440,
                                  nullptr, nullptr, sim::program_instance(), nullptr);
    ASSERT_NE(window, nullptr);
    app.instance = sim::program_instance();
    std::snprintf(app.version_text, sizeof app.version_text, "ver 1.2.78");

    PAINTSTRUCT paint;
    ASSERT_NE(BeginPaint(window, &paint), nullptr);
    long before = sim::failable_call_count();
    paint_header(window, &paint);
    long calls = sim::failable_call_count() - before;
    EndPaint(window, &paint);
    ASSERT_GT(calls, 10);

    for (bool persistent : {false, true}) {
        for (long k = 1; k <= calls; ++k) {
            SCOPED_TRACE((persistent ? "from call " : "call ") + std::to_string(k));
            ASSERT_NE(BeginPaint(window, &paint), nullptr);
            sim::fail_global_call(k, persistent);
            paint_header(window, &paint);
            sim::clear_failures();
            EndPaint(window, &paint);
            EXPECT_EQ(sim::open_summary(), "");
        }
    }
    DestroyWindow(window);
}
