// The painter on GDI+ bitmaps: a Gdiplus::Bitmap over the canvas's own
// buffer (32bppRGB for opaque pictures, 32bppPARGB for translucent ones, the
// same byte orders as the Linux side) and a Graphics drawing into it.
// Uniscribe shapes the text, so Arabic joins and runs right to left.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <mutex>
#include <vector>

#include "video/gdiplus_win.h"
#include "video/painter.h"

using namespace Gdiplus;

bool gdiplus_ready() {
    static const bool ready = [] {
        GdiplusStartupInput input;
        ULONG_PTR token = 0;
        if (GdiplusStartup(&token, &input, nullptr) != Ok) return false;
        // The header's wrapper caches this format on first use without a
        // lock; make that first use here, before any other thread draws.
        StringFormat::GenericTypographic();
        return true;
    }();
    return ready;
}

bool gdiplus_encoder(const wchar_t* mime, CLSID& out) {
    UINT count = 0, bytes = 0;
    if (!gdiplus_ready() || GetImageEncodersSize(&count, &bytes) != Ok || bytes == 0) return false;
    std::vector<uint8_t> buffer(bytes);
    auto* codecs = reinterpret_cast<ImageCodecInfo*>(buffer.data());
    if (GetImageEncoders(count, bytes, codecs) != Ok) return false;
    for (UINT i = 0; i < count; ++i) {
        if (codecs[i].MimeType && std::wcscmp(codecs[i].MimeType, mime) == 0) {
            out = codecs[i].Clsid;
            return true;
        }
    }
    return false;
}

std::string gdiplus_save(Image& image, const CLSID& encoder, const EncoderParameters* params) {
    std::string out;
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &stream)) || !stream) return out;
    if (image.Save(stream, &encoder, params) == Ok) {
        STATSTG st{};
        LARGE_INTEGER zero{};
        if (SUCCEEDED(stream->Stat(&st, STATFLAG_NONAME)) && st.cbSize.QuadPart < 0x7FFFFFFF &&
            SUCCEEDED(stream->Seek(zero, STREAM_SEEK_SET, nullptr))) {
            out.resize(static_cast<size_t>(st.cbSize.QuadPart));
            ULONG got = 0;
            if (FAILED(stream->Read(out.data(), static_cast<ULONG>(out.size()), &got)) ||
                got != out.size())
                out.clear();
        }
    }
    stream->Release();
    return out;
}

std::wstring gdiplus_wide(const std::string& utf8) {
    if (utf8.empty()) return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    if (n <= 0) return {};
    std::wstring w(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), w.data(), n);
    return w;
}

namespace {

bool has_arabic(const std::wstring& text) {
    for (wchar_t c : text) {
        if ((c >= 0x0600 && c <= 0x08FF) || (c >= 0xFB50 && c <= 0xFDFF) ||
            (c >= 0xFE70 && c <= 0xFEFF))
            return true;
    }
    return false;
}

std::wstring first_installed(std::initializer_list<const wchar_t*> names) {
    for (const wchar_t* n : names) {
        FontFamily family(n);
        if (family.GetLastStatus() == Ok && family.IsAvailable()) return n;
    }
    return *names.begin();
}

// The first installed family of a list. Windows has "Segoe UI" and "Arial",
// both with Arabic letters; Wine has neither but finds the system's Liberation
// and DejaVu fonts, and only DejaVu has Arabic. The generic sans-serif family
// is never asked for: it crashes the process under Wine.
const std::wstring& font_family_name(const std::wstring& text) {
    static const std::wstring latin =
        first_installed({L"Segoe UI", L"Arial", L"Liberation Sans", L"DejaVu Sans"});
    static const std::wstring arabic = first_installed(
        {L"Segoe UI", L"Arial", L"DejaVu Sans", L"Noto Sans Arabic", L"Liberation Sans"});
    return has_arabic(text) ? arabic : latin;
}

Color color_of(PaintColor c) {
    double a = c.alpha < 0 ? 0 : (c.alpha > 1 ? 1 : c.alpha);
    return Color(static_cast<BYTE>(a * 255 + 0.5), static_cast<BYTE>((c.rgb >> 16) & 0xFF),
                 static_cast<BYTE>((c.rgb >> 8) & 0xFF), static_cast<BYTE>(c.rgb & 0xFF));
}

// True when the first letter with a direction is Arabic: the line then reads
// right to left as a whole, not only inside each Arabic run.
bool right_to_left(const std::wstring& text) {
    for (wchar_t c : text) {
        if ((c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || (c >= 0xC0 && c < 0x0590))
            return false;
        if (has_arabic(std::wstring(1, c))) return true;
    }
    return false;
}

// One line, no wrapping or clipping, the logical box starting at the origin.
StringFormat* line_format(const std::wstring& text) {
    const StringFormat* typographic = StringFormat::GenericTypographic();
    StringFormat* f = typographic ? typographic->Clone() : nullptr;
    if (f)
        f->SetFormatFlags(StringFormatFlagsNoWrap | StringFormatFlagsNoClip |
                          StringFormatFlagsMeasureTrailingSpaces |
                          (right_to_left(text) ? StringFormatFlagsDirectionRightToLeft : 0));
    return f;
}

TextBox measure_on(Graphics& g, const std::wstring& text, double px, bool bold) {
    if (text.empty()) return {};
    FontFamily family(font_family_name(text).c_str());
    Font font(&family, static_cast<REAL>(px), bold ? FontStyleBold : FontStyleRegular, UnitPixel);
    StringFormat* format = line_format(text);
    RectF box;
    TextBox out;
    if (font.GetLastStatus() == Ok && format &&
        g.MeasureString(text.c_str(), static_cast<INT>(text.size()), &font, PointF(0, 0), format,
                        &box) == Ok)
        out = {box.Width, box.Height};
    delete format;
    return out;
}

TextBox measure_text_wide(const std::wstring& text, double px, bool bold) {
    if (!gdiplus_ready() || px <= 0) return {};
    Bitmap probe(1, 1, PixelFormat32bppPARGB);
    Graphics g(&probe);
    g.SetTextRenderingHint(TextRenderingHintAntiAlias);
    g.SetPageUnit(UnitPixel);
    return measure_on(g, text, px, bold);
}

class GdiCanvas final : public Canvas {
  public:
    GdiCanvas(uint8_t* pixels, int width, int height, PixelLayout layout, bool own)
        : Canvas(width, height, layout) {
        if (!gdiplus_ready() || width < 1 || height < 1) return;
        if (own) {
            own_.assign(static_cast<size_t>(width) * height * 4, 0);
            pixels = own_.data();
        }
        if (!pixels) return;
        pixels_ = pixels;
        bitmap_ = std::make_unique<Bitmap>(
            width, height, width * 4,
            layout == PixelLayout::bgrx ? PixelFormat32bppRGB : PixelFormat32bppPARGB, pixels);
        if (bitmap_->GetLastStatus() != Ok) return;
        g_.reset(Graphics::FromImage(bitmap_.get()));
        if (!g_ || g_->GetLastStatus() != Ok) {
            g_.reset();
            return;
        }
        g_->SetSmoothingMode(SmoothingModeAntiAlias);
        g_->SetPixelOffsetMode(PixelOffsetModeHalf);
        g_->SetTextRenderingHint(TextRenderingHintAntiAlias);
        g_->SetCompositingMode(CompositingModeSourceOver);
        g_->SetPageUnit(UnitPixel);
    }

    bool ok() const override { return g_ && !failed_; }
    uint8_t* pixels() override {
        flush();
        return pixels_;
    }
    void pixels_changed() override {}
    void flush() override {
        if (g_) g_->Flush(FlushIntentionSync);
    }

    void fill(PaintColor c) override {
        if (!g_) return;
        SolidBrush brush(color_of(c));
        check(g_->FillRectangle(&brush, 0, 0, width(), height()));
    }

    void fill_rounded_rect(double x, double y, double w, double h, double r,
                           PaintColor c) override {
        if (!g_ || w <= 0 || h <= 0) return;
        r = std::min(r, std::min(w, h) / 2);
        GraphicsPath path;
        if (r <= 0) {
            path.AddRectangle(RectF(REAL(x), REAL(y), REAL(w), REAL(h)));
        } else {
            const REAL d = REAL(2 * r);
            path.AddArc(REAL(x + w - 2 * r), REAL(y), d, d, 270, 90);
            path.AddArc(REAL(x + w - 2 * r), REAL(y + h - 2 * r), d, d, 0, 90);
            path.AddArc(REAL(x), REAL(y + h - 2 * r), d, d, 90, 90);
            path.AddArc(REAL(x), REAL(y), d, d, 180, 90);
            path.CloseFigure();
        }
        SolidBrush brush(color_of(c));
        check(g_->FillPath(&brush, &path));
    }

    void fill_linear_gradient(double x0, double y0, double x1, double y1, PaintColor from,
                              PaintColor to) override {
        if (!g_ || (x0 == x1 && y0 == y1)) return;
        LinearGradientBrush brush(PointF(REAL(x0), REAL(y0)), PointF(REAL(x1), REAL(y1)),
                                  color_of(from), color_of(to));
        // Mirrored tiles: the pixels at the far end keep the end colour
        // instead of wrapping round to the start colour.
        brush.SetWrapMode(WrapModeTileFlipXY);
        check(g_->FillRectangle(&brush, 0, 0, width(), height()));
    }

    void fill_radial_ellipse(double cx, double cy, double rx, double ry, PaintColor centre,
                             PaintColor edge) override {
        if (!g_ || rx <= 0 || ry <= 0) return;
        GraphicsPath path;
        path.AddEllipse(REAL(cx - rx), REAL(cy - ry), REAL(2 * rx), REAL(2 * ry));
        PathGradientBrush brush(&path);
        brush.SetCenterPoint(PointF(REAL(cx), REAL(cy)));
        brush.SetCenterColor(color_of(centre));
        Color surround[1] = {color_of(edge)};
        INT n = 1;
        brush.SetSurroundColors(surround, &n);
        check(g_->FillPath(&brush, &path));
    }

    void draw_text(const std::string& text, double px, bool bold, double x, double y,
                   PaintColor c) override {
        if (!g_ || text.empty() || px <= 0) return;
        const std::wstring w = gdiplus_wide(text);
        FontFamily family(font_family_name(w).c_str());
        Font font(&family, REAL(px), bold ? FontStyleBold : FontStyleRegular, UnitPixel);
        StringFormat* format = line_format(w);
        SolidBrush brush(color_of(c));
        // A right-to-left line ends at the right edge of its box: give it the
        // measured box so it lands where a left-to-right one would.
        const TextBox box = measure_text_wide(w, px, bold);
        const RectF area(REAL(x), REAL(y), REAL(box.width + 1), REAL(box.height + 1));
        if (font.GetLastStatus() == Ok && format)
            check(
                g_->DrawString(w.c_str(), static_cast<INT>(w.size()), &font, area, format, &brush));
        delete format;
    }

    void draw_canvas(Canvas& src, double x, double y, double scale) override {
        auto* s = dynamic_cast<GdiCanvas*>(&src);
        if (!g_ || !s || !s->bitmap_ || scale <= 0) return;
        s->flush();
        const bool exact = scale == 1.0 && x == static_cast<int>(x) && y == static_cast<int>(y);
        g_->SetInterpolationMode(exact ? InterpolationModeNearestNeighbor
                                       : InterpolationModeHighQualityBicubic);
        // An explicit pixel rectangle: GDI+ would otherwise scale by the
        // bitmaps' resolutions.
        const RectF dest(REAL(x), REAL(y), REAL(s->width() * scale), REAL(s->height() * scale));
        check(g_->DrawImage(s->bitmap_.get(), dest, 0, 0, REAL(s->width()), REAL(s->height()),
                            UnitPixel));
    }

    std::string encode_png() override {
        CLSID png;
        if (!bitmap_ || !gdiplus_encoder(L"image/png", png)) return {};
        flush();
        return gdiplus_save(*bitmap_, png, nullptr);
    }

    bool write_png(const std::string& path) override {
        const std::string png = encode_png();
        if (png.empty()) return false;
        FILE* f = _wfopen(gdiplus_wide(path).c_str(), L"wb");
        if (!f) return false;
        bool ok = std::fwrite(png.data(), 1, png.size(), f) == png.size();
        ok = std::fclose(f) == 0 && ok;
        return ok;
    }

    // Copies a decoded image into this (own, premultiplied) canvas.
    bool take_pixels(Bitmap& image) {
        if (!bitmap_ || own_.empty()) return false;
        Rect all(0, 0, width(), height());
        BitmapData data{};
        data.Width = width();
        data.Height = height();
        data.Stride = width() * 4;
        data.PixelFormat = PixelFormat32bppPARGB;
        data.Scan0 = own_.data();
        if (image.LockBits(&all, ImageLockModeRead | ImageLockModeUserInputBuf,
                           PixelFormat32bppPARGB, &data) != Ok)
            return false;
        image.UnlockBits(&data);
        return true;
    }

  private:
    void check(Status s) {
        if (s != Ok) failed_ = true;
    }

    std::vector<uint8_t> own_;
    uint8_t* pixels_ = nullptr;
    std::unique_ptr<Bitmap> bitmap_;
    std::unique_ptr<Graphics> g_;
    bool failed_ = false;
};

}  // namespace

TextBox measure_text(const std::string& text, double px, bool bold) {
    return measure_text_wide(gdiplus_wide(text), px, bold);
}

void Canvas::draw_text_centred(const std::string& text, double px, bool bold, double y,
                               PaintColor c) {
    const TextBox box = measure_text(text, px, bold);
    draw_text(text, px, bold, (width() - box.width) * 0.5, y, c);
}

std::unique_ptr<Canvas> Canvas::over(uint8_t* pixels, int width, int height, PixelLayout layout) {
    return std::make_unique<GdiCanvas>(pixels, width, height, layout, false);
}

std::unique_ptr<Canvas> Canvas::make(int width, int height, PixelLayout layout) {
    return std::make_unique<GdiCanvas>(nullptr, width, height, layout, true);
}

std::unique_ptr<Canvas> Canvas::decode_png(const uint8_t* data, size_t size) {
    static const uint8_t k_signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (!data || size < 8 || size > 0x7FFFFFFF || std::memcmp(data, k_signature, 8) != 0 ||
        !gdiplus_ready())
        return nullptr;
    // A memory stream of ole32 (no shlwapi needed) holding a copy of the bytes.
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &stream)) || !stream) return nullptr;
    ULONG written = 0;
    LARGE_INTEGER zero{};
    if (FAILED(stream->Write(data, static_cast<ULONG>(size), &written)) || written != size ||
        FAILED(stream->Seek(zero, STREAM_SEEK_SET, nullptr))) {
        stream->Release();
        return nullptr;
    }
    std::unique_ptr<Canvas> out;
    {
        std::unique_ptr<Bitmap> image(Bitmap::FromStream(stream));
        if (image && image->GetLastStatus() == Ok) {
            const int w = static_cast<int>(image->GetWidth());
            const int h = static_cast<int>(image->GetHeight());
            auto canvas =
                std::make_unique<GdiCanvas>(nullptr, w, h, PixelLayout::bgra_premul, true);
            if (canvas->ok() && canvas->take_pixels(*image)) out = std::move(canvas);
        }
    }
    stream->Release();
    return out;
}
