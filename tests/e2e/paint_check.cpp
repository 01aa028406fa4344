// Checks, on a screenshot of the display, that the installer's window was painted: the header
// holds the product picture's own pixels at (left + 10, top + 120) of the client area, its three
// text lines (the last one the version text) are drawn centred over the button-face background,
// the report control shows the report line by line, with ink on each line that holds text and
// none on the empty ones, and its vertical scroll bar, outside its client area, shows its two
// arrow buttons. The places come from qdi_wine_driver.exe's layout step.
//
//   qdi_paint_check SCREENSHOT.ppm PICTURE.ppm LAYOUT
//
// Both images are binary PPM (P6, 8 bits per channel). Exit code 0 when every check passes, 1
// with one line per failed check otherwise, 2 on unreadable input.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

const int kPictureLeft = 10;
const int kPictureTop = 120;
const int kTextLeft = 20;
const int kTextRight = 180;
const int kTextTops[] = {50, 70, 90};
const int kTextHeight = 20;
const int kCentreSlack = 3;
const int kMinimumTextWidth = 20;
// The client edge around the report control, and the narrowest scroll bar the check accepts.
const int kFrameBorder = 2;
const int kMinimumScrollBarWidth = 10;

struct Image {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgb;
    unsigned pixel(int x, int y) const {
        const unsigned char* p = &rgb[3 * (static_cast<size_t>(y) * width + x)];
        return (p[0] << 16) | (p[1] << 8) | p[2];
    }
    bool contains(int x, int y) const {
        return x >= 0 && y >= 0 && x < width && y < height;
    }
};

struct Box {
    int x = 0, y = 0, width = 0, height = 0;
};

struct Line {
    int top;
    bool visible;
};

struct Layout {
    Box client, report, frame; // frame: the report control's whole window, scroll bar included
    std::vector<Line> lines;
};

bool read_ppm(const char* path, Image* image) {
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    int maximum = 0;
    if (!(in >> magic >> image->width >> image->height >> maximum) || magic != "P6" ||
        maximum != 255 || image->width <= 0 || image->height <= 0)
        return false;
    in.get();
    image->rgb.resize(3 * static_cast<size_t>(image->width) * image->height);
    return static_cast<bool>(in.read(reinterpret_cast<char*>(image->rgb.data()),
                                     static_cast<std::streamsize>(image->rgb.size())));
}

bool read_layout(const char* path, Layout* layout) {
    std::ifstream in(path);
    std::string word;
    bool have_client = false, have_report = false, have_frame = false;
    while (in >> word) {
        if (word == "client" || word == "report" || word == "frame") {
            Box& box = word == "client"   ? layout->client
                       : word == "report" ? layout->report
                                          : layout->frame;
            if (!(in >> box.x >> box.y >> box.width >> box.height))
                return false;
            (word == "client" ? have_client : word == "report" ? have_report : have_frame) = true;
        } else if (word == "line") {
            Line line;
            int visible = 0;
            if (!(in >> line.top >> visible))
                return false;
            line.visible = visible != 0;
            layout->lines.push_back(line);
        } else {
            return false;
        }
    }
    return have_client && have_report && have_frame && !layout->lines.empty();
}

int failures = 0;

void check(bool passed, const std::string& message) {
    if (passed) {
        printf("ok: %s\n", message.c_str());
    } else {
        printf("FAIL: %s\n", message.c_str());
        ++failures;
    }
}

// Pixels in [x0, x1) x [y0, y1) of the screenshot that differ from background.
struct Ink {
    int count = 0, left = 0, right = -1;
};
Ink ink_in(const Image& shot, int x0, int y0, int x1, int y1, unsigned background) {
    Ink ink;
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
            if (!shot.contains(x, y) || shot.pixel(x, y) == background)
                continue;
            if (ink.count++ == 0 || x < ink.left)
                ink.left = x;
            if (x > ink.right)
                ink.right = x;
        }
    }
    return ink;
}

void check_picture(const Image& shot, const Image& picture, const Box& client) {
    int wrong = 0;
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x) {
            int sx = client.x + kPictureLeft + x, sy = client.y + kPictureTop + y;
            if (!shot.contains(sx, sy) || shot.pixel(sx, sy) != picture.pixel(x, y))
                ++wrong;
        }
    }
    check(wrong == 0, "the header shows the picture's " + std::to_string(picture.width) + "x" +
                          std::to_string(picture.height) + " pixels at (left + 10, top + 120)" +
                          (wrong ? " (" + std::to_string(wrong) + " differ)" : ""));
}

void check_header_text(const Image& shot, const Box& client) {
    // The header's background: the client area's top-left corner, which nothing covers.
    unsigned background = shot.pixel(client.x + 2, client.y + 2);
    check(background != 0xFFFFFF && background != 0x000000,
          "the header is filled with a button-face colour, not left white or black");
    static const char* const kNames[] = {"product name", "\"Driver Installer\"", "version text"};
    for (int i = 0; i < 3; ++i) {
        int top = client.y + kTextTops[i];
        Ink ink = ink_in(shot, client.x + kTextLeft, top, client.x + kTextRight, top + kTextHeight,
                         background);
        int centre = (ink.left + ink.right) / 2 - client.x;
        int middle = (kTextLeft + kTextRight) / 2;
        check(ink.count > 0 && ink.right - ink.left + 1 >= kMinimumTextWidth &&
                  std::abs(centre - middle) <= kCentreSlack,
              std::string("the ") + kNames[i] + " is drawn, centred between x 20 and 180");
    }
    // Above the text and between it and the picture there is nothing but background.
    Ink above = ink_in(shot, client.x, client.y, client.x + kTextRight, client.y + kTextTops[0],
                       background);
    Ink below = ink_in(shot, client.x, client.y + kTextTops[2] + kTextHeight, client.x + kTextRight,
                       client.y + kPictureTop, background);
    check(above.count == 0 && below.count == 0,
          "the header shows only background around its text lines");
}

void check_report(const Image& shot, const Layout& layout) {
    const Box& box = layout.report;
    // The report control's background: its most frequent colour.
    std::map<unsigned, int> frequency;
    for (int y = box.y; y < box.y + box.height; ++y)
        for (int x = box.x; x < box.x + box.width; ++x)
            if (shot.contains(x, y))
                ++frequency[shot.pixel(x, y)];
    unsigned background = 0;
    int most = 0;
    for (const auto& entry : frequency) {
        if (entry.second > most) {
            most = entry.second;
            background = entry.first;
        }
    }
    const std::vector<Line>& lines = layout.lines;
    if (lines.size() < 2 || lines[0].top < 0 || lines[1].top <= lines[0].top) {
        check(false, "the report control lays out at least two lines, one below the other");
        return;
    }
    int height = lines[1].top - lines[0].top;
    int wrong = 0, shown = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        int top = lines[i].top >= 0 ? lines[i].top : lines[0].top + static_cast<int>(i) * height;
        if (top + height > box.height)
            break;
        Ink ink =
            ink_in(shot, box.x, box.y + top, box.x + box.width, box.y + top + height, background);
        if ((ink.count > 0) != lines[i].visible) {
            printf("  line %zu (top %d): %s\n", i + 1, top,
                   lines[i].visible ? "holds text but shows nothing" : "is empty but shows ink");
            ++wrong;
        }
        shown = top + height;
    }
    Ink rest =
        ink_in(shot, box.x, box.y + shown, box.x + box.width, box.y + box.height, background);
    check(wrong == 0 && rest.count == 0,
          "the report control shows the report's " + std::to_string(lines.size()) +
              " lines, ink on each line with text and none elsewhere");
}

// Colours in [x0, x1) x [y0, y1) of the screenshot.
int colours_in(const Image& shot, int x0, int y0, int x1, int y1) {
    std::map<unsigned, int> seen;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            if (shot.contains(x, y))
                ++seen[shot.pixel(x, y)];
    return static_cast<int>(seen.size());
}

// The vertical scroll bar lies right of the report's client area, inside its frame: at least as
// wide as a scroll bar, with a drawn arrow button at its top and at its bottom. Without one the
// client area reaches the frame's border.
void check_scroll_bar(const Image& shot, const Layout& layout) {
    const Box& report = layout.report;
    int left = report.x + report.width;
    int right = layout.frame.x + layout.frame.width - kFrameBorder;
    int top = report.y, bottom = report.y + report.height;
    bool wide = right - left >= kMinimumScrollBarWidth && bottom - top >= 2 * (right - left);
    int width = right - left;
    check(wide && colours_in(shot, left, top, right, top + width) >= 2 &&
              colours_in(shot, left, bottom - width, right, bottom) >= 2,
          "the report control shows a vertical scroll bar with its arrow buttons at its right (" +
              std::to_string(width) + " pixels wide)");
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: %s SCREENSHOT.ppm PICTURE.ppm LAYOUT\n", argv[0]);
        return 2;
    }
    Image shot, picture;
    Layout layout;
    if (!read_ppm(argv[1], &shot) || !read_ppm(argv[2], &picture) ||
        !read_layout(argv[3], &layout)) {
        fprintf(stderr, "qdi_paint_check: cannot read %s, %s or %s\n", argv[1], argv[2], argv[3]);
        return 2;
    }
    check_picture(shot, picture, layout.client);
    check_header_text(shot, layout.client);
    check_report(shot, layout);
    check_scroll_bar(shot, layout);
    return failures == 0 ? 0 : 1;
}
