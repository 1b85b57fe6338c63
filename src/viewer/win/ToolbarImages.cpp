#include "ToolbarImages.h"

#include <algorithm>
#include <vector>

namespace viewer {

namespace {

constexpr COLORREF kBackground = RGB(255, 0, 255); // the mask colour
constexpr COLORREF kInk = RGB(38, 84, 140);
constexpr COLORREF kPaper = RGB(255, 255, 255);
constexpr COLORREF kBlue = RGB(74, 144, 226);

// Drawing on a 16-unit grid scaled to the picture's size, outlines in ink.
class Canvas {
public:
    Canvas(HDC dc, int left, int size)
        : dc_(dc), left_(left), size_(size), originalPen_(GetCurrentObject(dc, OBJ_PEN)),
          originalBrush_(GetCurrentObject(dc, OBJ_BRUSH))
    {
    }
    ~Canvas()
    {
        SelectObject(dc_, originalPen_);
        SelectObject(dc_, originalBrush_);
        if (pen_)
            DeleteObject(pen_);
        if (brush_)
            DeleteObject(brush_);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    void Polygon(std::initializer_list<POINT> grid, COLORREF fill)
    {
        std::vector<POINT> points;
        for (const POINT& p : grid)
            points.push_back({X(p.x), Y(p.y)});
        Use(1, fill);
        ::Polygon(dc_, points.data(), static_cast<int>(points.size()));
    }
    void Box(double l, double t, double r, double b, COLORREF fill)
    {
        Use(1, fill);
        Rectangle(dc_, X(l), Y(t), X(r), Y(b));
    }
    void Ring(double l, double t, double r, double b)
    {
        Use(2, kBackground);
        Ellipse(dc_, X(l), Y(t), X(r), Y(b));
    }
    void Line(double x1, double y1, double x2, double y2, int width)
    {
        Use(width, kBackground);
        MoveToEx(dc_, X(x1), Y(y1), nullptr);
        LineTo(dc_, X(x2), Y(y2));
    }
    void Letter(double x, double baseline, double height)
    {
        const HFONT font = CreateFontW(-Y(height), 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, NONANTIALIASED_QUALITY,
                                       DEFAULT_PITCH | FF_SWISS, L"Arial");
        const HGDIOBJ old = SelectObject(dc_, font);
        SetBkMode(dc_, TRANSPARENT);
        SetTextColor(dc_, kInk);
        SetTextAlign(dc_, TA_BASELINE | TA_LEFT);
        TextOutW(dc_, X(x), Y(baseline), L"A", 1);
        SelectObject(dc_, old);
        DeleteObject(font);
    }

private:
    int X(double x) const { return left_ + static_cast<int>(x * size_ / 16.0 + 0.5); }
    int Y(double y) const { return static_cast<int>(y * size_ / 16.0 + 0.5); }

    // An ink pen `width` grid units wide; `fill` kBackground leaves shapes hollow.
    void Use(int width, COLORREF fill)
    {
        Replace(pen_, CreatePen(PS_SOLID, std::max(1, width * size_ / 16), kInk));
        Replace(brush_, fill == kBackground ? CreateStockHollowBrush() : CreateSolidBrush(fill));
    }
    static HGDIOBJ CreateStockHollowBrush()
    {
        LOGBRUSH hollow = {BS_HOLLOW, 0, 0};
        return CreateBrushIndirect(&hollow);
    }
    void Replace(HGDIOBJ& mine, HGDIOBJ next)
    {
        SelectObject(dc_, next);
        if (mine)
            DeleteObject(mine);
        mine = next;
    }

    HDC dc_;
    int left_;
    int size_;
    HGDIOBJ originalPen_;
    HGDIOBJ originalBrush_;
    HGDIOBJ pen_ = nullptr;
    HGDIOBJ brush_ = nullptr;
};

void Draw(Canvas& c, ToolbarImage image)
{
    switch (image) {
    case ToolbarImage::Back: c.Polygon({{1, 8}, {8, 1}, {8, 5}, {15, 5}, {15, 11}, {8, 11}, {8, 15}}, kBlue); break;
    case ToolbarImage::Forward:
        c.Polygon({{15, 8}, {8, 1}, {8, 5}, {1, 5}, {1, 11}, {8, 11}, {8, 15}}, kBlue);
        break;
    case ToolbarImage::Home:
        c.Box(3, 7, 13, 15, RGB(240, 200, 120));
        c.Polygon({{1, 8}, {8, 1}, {15, 8}}, RGB(200, 70, 50));
        c.Box(7, 10, 10, 15, kInk);
        break;
    case ToolbarImage::Print:
        c.Box(4, 1, 12, 7, kPaper);
        c.Box(1, 6, 15, 12, RGB(170, 170, 170));
        c.Box(4, 10, 12, 15, kPaper);
        break;
    case ToolbarImage::Find:
        c.Ring(1, 1, 11, 11);
        c.Line(9.5, 9.5, 14.5, 14.5, 3);
        break;
    case ToolbarImage::TextSize:
        c.Letter(0, 15, 15);
        c.Letter(10, 15, 8);
        break;
    case ToolbarImage::Copy:
        c.Box(1, 1, 10, 11, kPaper);
        c.Box(6, 5, 15, 15, kPaper);
        break;
    case ToolbarImage::Count: break;
    }
}

} // namespace

HIMAGELIST MakeToolbarImages(int size)
{
    const int count = static_cast<int>(ToolbarImage::Count);
    const HDC screen = GetDC(nullptr);
    const HDC dc = CreateCompatibleDC(screen);
    const HBITMAP strip = CreateCompatibleBitmap(screen, size * count, size);
    ReleaseDC(nullptr, screen);
    const HGDIOBJ old = SelectObject(dc, strip);
    const RECT all = {0, 0, size * count, size};
    const HBRUSH background = CreateSolidBrush(kBackground);
    FillRect(dc, &all, background);
    DeleteObject(background);
    for (int i = 0; i < count; ++i) {
        Canvas canvas(dc, i * size, size);
        Draw(canvas, static_cast<ToolbarImage>(i));
    }
    SelectObject(dc, old);
    DeleteDC(dc);
    const HIMAGELIST images = ImageList_Create(size, size, ILC_COLOR24 | ILC_MASK, count, 0);
    ImageList_AddMasked(images, strip, kBackground);
    DeleteObject(strip);
    return images;
}

} // namespace viewer
