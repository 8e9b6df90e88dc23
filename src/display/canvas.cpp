#include "display/canvas.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <numbers>
#include <utility>

namespace kestra::display {
namespace {

struct Vec {
    int64_t x;
    int64_t y;
};

int64_t Cross(Vec a, Vec b) {
    return a.x * b.y - a.y * b.x;
}
int64_t Dot(Vec a, Vec b) {
    return a.x * b.x + a.y * b.y;
}

// A direction as a fixed-point vector, so that the per-pixel tests of a
// slice use integers only.
Vec Direction(double angle) {
    constexpr double kScale = 65536.0;
    return {RoundPixel(std::cos(angle) * kScale), RoundPixel(std::sin(angle) * kScale)};
}

// Whether the offset (dx, dy) of a pixel from the centre lies in the sweep
// from angle a0 counter-clockwise to a1.
class Sweep {
  public:
    Sweep(double a0, double a1) : start_(Direction(a0)), end_(Direction(a1)) {
        double span = a1 - a0;
        full_ = span >= 2 * std::numbers::pi - 1e-9;
        wide_ = span > std::numbers::pi;
    }
    bool Contains(int dx, int dy) const {
        if (full_ || (dx == 0 && dy == 0)) return true;
        Vec v{dx, -dy};  // y up
        if (!wide_) {
            int64_t fromStart = Cross(start_, v);
            int64_t toEnd = Cross(v, end_);
            if (fromStart < 0 || toEnd < 0) return false;
            if (fromStart == 0 && Dot(start_, v) < 0) return false;
            if (toEnd == 0 && Dot(end_, v) < 0) return false;
            return true;
        }
        // A sweep over half a turn: inside unless strictly in the rest.
        return !(Cross(end_, v) > 0 && Cross(v, start_) > 0);
    }

  private:
    Vec start_;
    Vec end_;
    bool full_ = false;
    bool wide_ = false;
};

// The edge points of a circle, eight octants from one integer walk.
template <class Plot>
void WalkCircle(int r, Plot plot) {
    int x = r;
    int y = 0;
    int err = 1 - r;
    while (x >= y) {
        plot(x, y);
        plot(y, x);
        plot(-y, x);
        plot(-x, y);
        plot(-x, -y);
        plot(-y, -x);
        plot(y, -x);
        plot(x, -y);
        ++y;
        if (err < 0) {
            err += 2 * y + 1;
        } else {
            --x;
            err += 2 * (y - x) + 1;
        }
    }
}

bool InsideDisc(int dx, int dy, int r) {
    return static_cast<int64_t>(dx) * dx + static_cast<int64_t>(dy) * dy <=
           static_cast<int64_t>(r) * r + r;
}

}  // namespace

Canvas::Canvas(int width, int height, Rgb back) : BackColor(back) {
    Resize(width, height);
}

void Canvas::Resize(int width, int height) {
    width_ = std::max(0, width);
    height_ = std::max(0, height);
    pixels_.assign(static_cast<size_t>(width_) * height_, BackColor);
}

void Canvas::Clear() {
    std::fill(pixels_.begin(), pixels_.end(), BackColor);
    CurrentX = 0;
    CurrentY = 0;
}

Rgb Canvas::Pixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return BackColor;
    return pixels_[static_cast<size_t>(y) * width_ + x];
}

void Canvas::SetPixel(int x, int y, Rgb color) {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
    Rgb& p = pixels_[static_cast<size_t>(y) * width_ + x];
    if (PenMode == DrawMode::XorPen) {
        p = {static_cast<uint8_t>(p.r ^ color.r), static_cast<uint8_t>(p.g ^ color.g),
             static_cast<uint8_t>(p.b ^ color.b)};
    } else {
        p = color;
    }
}

void Canvas::Line(int x1, int y1, int x2, int y2, Rgb color) {
    int dx = std::abs(x2 - x1);
    int dy = -std::abs(y2 - y1);
    int sx = x1 < x2 ? 1 : -1;
    int sy = y1 < y2 ? 1 : -1;
    int err = dx + dy;
    int x = x1;
    int y = y1;
    for (;;) {
        SetPixel(x, y, color);
        if (x == x2 && y == y2) break;
        int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y += sy;
        }
    }
    CurrentX = x2;
    CurrentY = y2;
}

void Canvas::Box(int x1, int y1, int x2, int y2, Rgb color) {
    if (x1 > x2) std::swap(x1, x2);
    if (y1 > y2) std::swap(y1, y2);
    for (int x = x1; x <= x2; ++x) {
        SetPixel(x, y1, color);
        if (y2 != y1) SetPixel(x, y2, color);
    }
    for (int y = y1 + 1; y < y2; ++y) {
        SetPixel(x1, y, color);
        if (x2 != x1) SetPixel(x2, y, color);
    }
}

void Canvas::FillBox(int x1, int y1, int x2, int y2, Rgb color) {
    if (x1 > x2) std::swap(x1, x2);
    if (y1 > y2) std::swap(y1, y2);
    x1 = std::max(x1, 0);
    y1 = std::max(y1, 0);
    x2 = std::min(x2, width_ - 1);
    y2 = std::min(y2, height_ - 1);
    for (int y = y1; y <= y2; ++y) {
        for (int x = x1; x <= x2; ++x)
            SetPixel(x, y, color);
    }
}

void Canvas::Circle(int cx, int cy, int r) {
    if (r < 0) return;
    if (FillMode == FillStyle::Solid) {
        for (int dy = -r; dy <= r; ++dy) {
            for (int dx = -r; dx <= r; ++dx) {
                if (InsideDisc(dx, dy, r)) SetPixel(cx + dx, cy + dy, FillColor);
            }
        }
    }
    // An xor pen would undo pixels that two octants share; plot each once.
    std::vector<std::pair<int, int>> edge;
    WalkCircle(r, [&](int dx, int dy) { edge.emplace_back(dx, dy); });
    std::sort(edge.begin(), edge.end());
    edge.erase(std::unique(edge.begin(), edge.end()), edge.end());
    for (auto [dx, dy] : edge)
        SetPixel(cx + dx, cy + dy, ForeColor);
}

void Canvas::PieSlice(int cx, int cy, int r, double a0, double a1) {
    if (r < 0) return;
    Sweep sweep(a0, a1);
    if (FillMode == FillStyle::Solid) {
        for (int dy = -r; dy <= r; ++dy) {
            for (int dx = -r; dx <= r; ++dx) {
                if (InsideDisc(dx, dy, r) && sweep.Contains(dx, dy)) {
                    SetPixel(cx + dx, cy + dy, FillColor);
                }
            }
        }
    }
    std::vector<std::pair<int, int>> edge;
    WalkCircle(r, [&](int dx, int dy) {
        if (sweep.Contains(dx, dy)) edge.emplace_back(dx, dy);
    });
    std::sort(edge.begin(), edge.end());
    edge.erase(std::unique(edge.begin(), edge.end()), edge.end());
    for (auto [dx, dy] : edge)
        SetPixel(cx + dx, cy + dy, ForeColor);
    int keepX = CurrentX;
    int keepY = CurrentY;
    for (double a : {a0, a1}) {
        Line(cx, cy, cx + RoundPixel(r * std::cos(a)), cy - RoundPixel(r * std::sin(a)), ForeColor);
    }
    CurrentX = keepX;
    CurrentY = keepY;
}

void Canvas::Print(std::string_view text) {
    int x = CurrentX;
    int y = CurrentY;
    if (!FontTransparent) FillBox(x, y, x + TextWidth(text) - 1, y + kFontHeight - 1, BackColor);
    for (char c : text) {
        if (IsUtf8Continuation(c)) continue;
        int left = GlyphLeft(Font, c);
        for (int row = 0; row < kGlyphRows; ++row) {
            uint8_t bits = GlyphRow(c, row);
            for (int col = 0; col < kGlyphColumns; ++col) {
                if (bits & (1u << (kGlyphColumns - 1 - col))) {
                    SetPixel(x + col - left, y + row, ForeColor);
                }
            }
        }
        x += GlyphAdvance(Font, c);
    }
    CurrentX = x;
}

void Canvas::PrintLine(std::string_view text) {
    Print(text);
    CurrentX = 0;
    CurrentY += TextHeight(text);
}

void Canvas::BlockCopy(Canvas& dst, int dx, int dy, int w, int h, const Canvas& src, int sx,
                       int sy) {
    for (int row = 0; row < h; ++row) {
        int ty = dy + row;
        int fy = sy + row;
        if (ty < 0 || ty >= dst.height_ || fy < 0 || fy >= src.height_) continue;
        for (int col = 0; col < w; ++col) {
            int tx = dx + col;
            int fx = sx + col;
            if (tx < 0 || tx >= dst.width_ || fx < 0 || fx >= src.width_) continue;
            dst.pixels_[static_cast<size_t>(ty) * dst.width_ + tx] =
                src.pixels_[static_cast<size_t>(fy) * src.width_ + fx];
        }
    }
}

}  // namespace kestra::display
