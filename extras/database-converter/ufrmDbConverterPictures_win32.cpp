// The wizard's pictures, drawn with GDI at the size of their control (so they stay sharp at
// any DPI): database cylinders and arrows for the conversion, a note sign, a warning sign
// and an error sign. Each is designed in a box of its own units and scaled to the control.
#include <initializer_list>
#include <utility>
#include <vector>

#include "ufrmDbConverterIds.h"
#include "ufrmDbConverter_win32.h"

namespace mrv {

namespace {

const COLORREF DbBlue = RGB(0x2B, 0x6C, 0xB0);
const COLORREF DbBlueLight = RGB(0x8F, 0xC1, 0xEE);
const COLORREF DbBlueDark = RGB(0x1A, 0x42, 0x6E);
const COLORREF TargetTeal = RGB(0x2E, 0x9E, 0x8F);
const COLORREF TargetTealLight = RGB(0x9F, 0xDD, 0xD2);
const COLORREF TargetTealDark = RGB(0x1B, 0x5E, 0x55);
const COLORREF ArrowGreen = RGB(0x3C, 0xA5, 0x3C);
const COLORREF ArrowGreenDark = RGB(0x22, 0x6B, 0x22);

// Drawing in design units: (0,0)-(unitsW,unitsH) maps onto the control's rectangle.
class TCanvas {
 public:
  TCanvas(HDC dc, const RECT& r, double unitsW, double unitsH)
      : dc_(dc),
        x0_(r.left),
        y0_(r.top),
        sx_((r.right - r.left) / unitsW),
        sy_((r.bottom - r.top) / unitsH) {}
  ~TCanvas() {
    SelectObject(dc_, GetStockObject(NULL_PEN));
    SelectObject(dc_, GetStockObject(NULL_BRUSH));
    for (HGDIOBJ o : made_) DeleteObject(o);
  }
  int X(double u) const { return x0_ + static_cast<int>(u * sx_ + 0.5); }
  int Y(double u) const { return y0_ + static_cast<int>(u * sy_ + 0.5); }
  int Width(double u) const {
    return static_cast<int>(u * sx_ + 0.5) < 1 ? 1 : static_cast<int>(u * sx_ + 0.5);
  }

  void Use(COLORREF fill, COLORREF line, double lineWidth = 1) {
    SelectObject(dc_, Keep(CreateSolidBrush(fill)));
    SelectObject(dc_, Keep(CreatePen(PS_SOLID, Width(lineWidth), line)));
  }
  void UseFillOnly(COLORREF fill) {
    SelectObject(dc_, Keep(CreateSolidBrush(fill)));
    SelectObject(dc_, GetStockObject(NULL_PEN));
  }
  void Fill(double l, double t, double r, double b, COLORREF c) {
    RECT rc{X(l), Y(t), X(r), Y(b)};
    HBRUSH br = CreateSolidBrush(c);
    FillRect(dc_, &rc, br);
    DeleteObject(br);
  }
  void Ellipse(double l, double t, double r, double b) { ::Ellipse(dc_, X(l), Y(t), X(r), Y(b)); }
  void Rect(double l, double t, double r, double b) { ::Rectangle(dc_, X(l), Y(t), X(r), Y(b)); }
  void Line(double x1, double y1, double x2, double y2) {
    MoveToEx(dc_, X(x1), Y(y1), nullptr);
    LineTo(dc_, X(x2), Y(y2));
  }
  void Polygon(std::initializer_list<std::pair<double, double>> pts) {
    POINT p[16];
    int n = 0;
    for (const auto& [x, y] : pts) p[n++] = {X(x), Y(y)};
    ::Polygon(dc_, p, n);
  }

  // A database drum: body, bottom rim, lighter top.
  void Cylinder(double l, double t, double r, double b, COLORREF body, COLORREF top,
                COLORREF edge) {
    const double rim = (r - l) * 0.32;
    Use(body, edge);
    Ellipse(l, b - rim, r, b);
    UseFillOnly(body);
    Rect(l, t + rim / 2, r + 0.01, b - rim / 2);
    Use(body, edge);
    Line(l, t + rim / 2, l, b - rim / 2);
    Line(r - 0.5, t + rim / 2, r - 0.5, b - rim / 2);
    // Two bands around the drum.
    SelectObject(dc_, Keep(CreatePen(PS_SOLID, Width(1), top)));
    for (double f : {0.38, 0.66}) {
      const double y = t + (b - t) * f;
      Arc(dc_, X(l + 1), Y(y - rim / 2), X(r - 1), Y(y + rim / 2), X(l), Y(y), X(r), Y(y));
    }
    Use(top, edge);
    Ellipse(l, t, r, t + rim);
  }
  // An arrow pointing right (dir 0) or down (dir 1) inside the box.
  void Arrow(double l, double t, double r, double b, int dir) {
    Use(ArrowGreen, ArrowGreenDark);
    if (dir == 0) {
      const double m = (t + b) / 2, h = (b - t) / 2, head = l + (r - l) * 0.5;
      Polygon({{l, m - h * 0.45},
               {head, m - h * 0.45},
               {head, t},
               {r, m},
               {head, b},
               {head, m + h * 0.45},
               {l, m + h * 0.45}});
    } else {
      const double m = (l + r) / 2, w = (r - l) / 2, head = t + (b - t) * 0.5;
      Polygon({{m - w * 0.45, t},
               {m - w * 0.45, head},
               {l, head},
               {m, b},
               {r, head},
               {m + w * 0.45, head},
               {m + w * 0.45, t}});
    }
  }

 private:
  HGDIOBJ Keep(HGDIOBJ o) {
    made_.push_back(o);
    return o;
  }
  HDC dc_;
  int x0_, y0_;
  double sx_, sy_;
  std::vector<HGDIOBJ> made_;
};

// Tall picture at the left of the first and the last page: a blue gradient with the local
// database above, the arrow and the External Database below; a tick once finished.
void DrawBanner(HDC dc, const RECT& r, bool finished) {
  const int h = r.bottom - r.top;
  for (int y = 0; y < h; y += 2) {
    const double f = static_cast<double>(y) / h;
    const COLORREF c =
        RGB(static_cast<int>(0x17 + f * (0x7E - 0x17)), static_cast<int>(0x3F + f * (0xB2 - 0x3F)),
            static_cast<int>(0x7A + f * (0xE6 - 0x7A)));
    RECT band{r.left, r.top + y, r.right, r.top + (y + 2 < h ? y + 2 : h)};
    HBRUSH br = CreateSolidBrush(c);
    FillRect(dc, &band, br);
    DeleteObject(br);
  }
  TCanvas c(dc, r, 112, 238);
  c.Cylinder(30, 26, 82, 92, RGB(0xE8, 0xF1, 0xFB), RGB(0xFF, 0xFF, 0xFF), DbBlueDark);
  c.Arrow(40, 100, 72, 134, 1);
  c.Cylinder(30, 142, 82, 208, TargetTeal, TargetTealLight, TargetTealDark);
  if (finished) {
    c.Use(ArrowGreen, RGB(0xFF, 0xFF, 0xFF), 2);
    c.Ellipse(66, 180, 100, 214);
    c.Use(RGB(0xFF, 0xFF, 0xFF), RGB(0xFF, 0xFF, 0xFF));
    c.Polygon({{73, 197}, {78, 192}, {82, 197}, {92, 186}, {96, 191}, {82, 205}});
  }
}

void DrawTransfer(HDC dc, const RECT& r) {
  TCanvas c(dc, r, 48, 48);
  c.Cylinder(2, 8, 19, 40, DbBlue, DbBlueLight, DbBlueDark);
  c.Arrow(19, 17, 30, 31, 0);
  c.Cylinder(30, 8, 47, 40, TargetTeal, TargetTealLight, TargetTealDark);
}

void DrawNote(HDC dc, const RECT& r) {
  TCanvas c(dc, r, 16, 16);
  c.Use(DbBlue, DbBlueDark);
  c.Ellipse(0, 0, 16, 16);
  c.UseFillOnly(RGB(0xFF, 0xFF, 0xFF));
  c.Rect(7, 6.5, 9.2, 13);
  c.Ellipse(6.8, 2.6, 9.4, 5.2);
}

void DrawWarning(HDC dc, const RECT& r) {
  TCanvas c(dc, r, 32, 32);
  c.Use(RGB(0xF5, 0xC2, 0x1B), RGB(0x8A, 0x66, 0x00), 1.5);
  c.Polygon({{16, 2}, {31, 29}, {1, 29}});
  c.UseFillOnly(RGB(0x20, 0x20, 0x20));
  c.Polygon({{14.4, 10}, {17.6, 10}, {16.8, 21}, {15.2, 21}});
  c.Ellipse(14.4, 23, 17.6, 26.2);
}

void DrawError(HDC dc, const RECT& r) {
  TCanvas c(dc, r, 32, 32);
  c.Use(RGB(0xD3, 0x2F, 0x2F), RGB(0x7F, 0x12, 0x12), 1.5);
  c.Ellipse(1, 1, 31, 31);
  c.UseFillOnly(RGB(0xFF, 0xFF, 0xFF));
  c.Polygon({{9, 11.5},
             {11.5, 9},
             {16, 13.5},
             {20.5, 9},
             {23, 11.5},
             {18.5, 16},
             {23, 20.5},
             {20.5, 23},
             {16, 18.5},
             {11.5, 23},
             {9, 20.5},
             {13.5, 16}});
}

}  // namespace

void DrawWizardPicture(int id, HDC dc, const RECT& rect, COLORREF background) {
  HBRUSH bg = CreateSolidBrush(background);
  FillRect(dc, &rect, bg);
  DeleteObject(bg);
  const int saved = SaveDC(dc);
  switch (id) {
    case IDC_imgWelcome: DrawBanner(dc, rect, false); break;
    case IDC_imgFinished: DrawBanner(dc, rect, true); break;
    case IDC_imgHeader:
    case IDC_imgConversion: DrawTransfer(dc, rect); break;
    case IDC_imgLinkDbGuides: DrawNote(dc, rect); break;
    case IDC_imgImportant: DrawWarning(dc, rect); break;
    case IDC_imgConversionError: DrawError(dc, rect); break;
    default: break;
  }
  RestoreDC(dc, saved);
}

}  // namespace mrv
