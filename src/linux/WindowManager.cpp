#include "WindowManager.h"

#include "BitMap.h"
#include "Shell.h"
#include "Tracer.h"

#include <fontconfig/fontconfig.h>
#include <gio/gio.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace {
const std::int32_t kModule = Tracer::register_module("WinMain");

const SDL_Color kTextColour = {shell::kTextColour.red, shell::kTextColour.green,
                               shell::kTextColour.blue, 255};
const SDL_Color kDimTextColour = {shell::kDimTextColour.red, shell::kDimTextColour.green,
                                  shell::kDimTextColour.blue, 255};
const SDL_Color kTextBackground = {0, 0, 0, 255};

struct FontFile {
    std::string path;
    int index = 0;
};

// fontconfig's best match for the family among scalable fonts that hold every needed character.
bool match_font(const char* family, const char32_t* needed, int needed_count, FontFile& found) {
    FcPattern* pattern = FcPatternCreate();
    if (!pattern) return false;
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family));
    FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
    FcCharSet* wanted = nullptr;
    if (needed_count > 0) {
        wanted = FcCharSetCreate();
        for (int i = 0; i < needed_count; ++i) FcCharSetAddChar(wanted, needed[i]);
        FcPatternAddCharSet(pattern, FC_CHARSET, wanted);
    }
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);

    // The sorted list rather than the single match: a font lacking a symbol is passed over.
    FcResult result = FcResultNoMatch;
    FcFontSet* fonts = FcFontSort(nullptr, pattern, FcFalse, nullptr, &result);
    bool ok = false;
    for (int i = 0; fonts && i < fonts->nfont && !ok; ++i) {
        FcPattern* font = fonts->fonts[i];
        FcChar8* file = nullptr;
        if (FcPatternGetString(font, FC_FILE, 0, &file) != FcResultMatch || !file) continue;
        if (wanted) {
            FcCharSet* has = nullptr;
            if (FcPatternGetCharSet(font, FC_CHARSET, 0, &has) != FcResultMatch ||
                !FcCharSetIsSubset(wanted, has))
                continue;
        }
        int index = 0;
        if (FcPatternGetInteger(font, FC_INDEX, 0, &index) != FcResultMatch) index = 0;
        found.path = reinterpret_cast<const char*>(file);
        found.index = index;
        ok = true;
    }
    if (fonts) FcFontSetDestroy(fonts);
    if (wanted) FcCharSetDestroy(wanted);
    FcPatternDestroy(pattern);
    return ok;
}

// A font whose cell (ascent + descent) is `cell` pixels, as Windows makes a font of positive
// height: the largest point size whose cell does not exceed it.
TTF_Font* open_font(const char* family, const char32_t* needed, int needed_count, int cell) {
    FontFile file;
    if (!match_font(family, needed, needed_count, file)) {
        GW_TRACE(kModule, 1, "WindowManager : no font for <%s>", family);
        return nullptr;
    }
    TTF_Font* font = TTF_OpenFontIndex(file.path.c_str(), cell, file.index);
    if (!font) {
        GW_TRACE(kModule, 1, "WindowManager : cannot open <%s> (%s)", file.path.c_str(),
                 TTF_GetError());
        return nullptr;
    }
    int size = cell;
    while (size > 1 && TTF_FontHeight(font) > cell) TTF_SetFontSize(font, --size);
    while (size < 4 * cell) {
        TTF_SetFontSize(font, size + 1);
        if (TTF_FontHeight(font) > cell) break;
        ++size;
    }
    TTF_SetFontSize(font, size);
    return font;
}

bool valid_utf8(const std::string& text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        const unsigned char c = *p;
        int extra = 0;
        std::uint32_t code = 0;
        if (c < 0x80) {
            ++p;
            continue;
        } else if (c >= 0xc2 && c <= 0xdf) {
            extra = 1;
            code = c & 0x1f;
        } else if (c >= 0xe0 && c <= 0xef) {
            extra = 2;
            code = c & 0x0f;
        } else if (c >= 0xf0 && c <= 0xf4) {
            extra = 3;
            code = c & 0x07;
        } else {
            return false;
        }
        if (end - p <= extra) return false;
        for (int i = 1; i <= extra; ++i) {
            if ((p[i] & 0xc0) != 0x80) return false;
            code = (code << 6) | (p[i] & 0x3f);
        }
        if ((extra == 2 && code < 0x800) || (extra == 3 && (code < 0x10000 || code > 0x10ffff)) ||
            (code >= 0xd800 && code <= 0xdfff))
            return false;
        p += extra + 1;
    }
    return true;
}

// File names need not be UTF-8; one that is not is shown as Latin-1 rather than not at all.
std::string displayable(const std::string& text) {
    if (valid_utf8(text)) return text;
    std::string utf8;
    for (unsigned char c : text) {
        if (c < 0x80) {
            utf8 += static_cast<char>(c);
        } else {
            utf8 += static_cast<char>(0xc0 | (c >> 6));
            utf8 += static_cast<char>(0x80 | (c & 0x3f));
        }
    }
    return utf8;
}

void draw_text(SDL_Surface* frame, TTF_Font* font, const std::string& utf8, int x, int y,
               const SDL_Color& colour = kTextColour) {
    if (!font || utf8.empty()) return;
    SDL_Surface* text = TTF_RenderUTF8_Shaded(font, utf8.c_str(), colour, kTextBackground);
    if (!text) return;
    SDL_Rect at = {x, y, 0, 0};
    SDL_BlitSurface(text, nullptr, frame, &at);
    SDL_FreeSurface(text);
}

// One-to-one copy of bottom-up BGR rows into the frame at (left, top), clipped to the frame.
void copy_picture(SDL_Surface* frame, const BitMap& image, int left, int top) {
    const std::uint8_t* bits = image.bits();
    const int w = image.width();
    const int h = image.height();
    const int pitch = image.pitch();
    if (!bits || w <= 0 || h <= 0) return;
    const int x0 = left < 0 ? -left : 0;
    const int x1 = left + w > frame->w ? frame->w - left : w;
    if (x0 >= x1) return;
    const SDL_PixelFormat& format = *frame->format;
    // X gives 32-bit xRGB on any desktop of today; other layouts go through SDL's converter.
    const bool xrgb = format.BytesPerPixel == 4 && format.Rmask == 0xff0000 &&
                      format.Gmask == 0xff00 && format.Bmask == 0xff;
    auto* pixels = static_cast<std::uint8_t*>(frame->pixels);
    for (int row = 0; row < h; ++row) {
        const int y = top + row;
        if (y < 0 || y >= frame->h) continue;
        const std::uint8_t* source = bits + static_cast<std::ptrdiff_t>(h - 1 - row) * pitch;
        std::uint8_t* line = pixels + static_cast<std::ptrdiff_t>(y) * frame->pitch;
        if (!xrgb) {
            SDL_ConvertPixels(x1 - x0, 1, SDL_PIXELFORMAT_BGR24, source + 3 * x0, pitch,
                              format.format, line + (left + x0) * format.BytesPerPixel,
                              frame->pitch);
            continue;
        }
        auto* target = reinterpret_cast<Uint32*>(line);
        for (int x = x0; x < x1; ++x) {
            const std::uint8_t* bgr = source + 3 * x;
            target[left + x] = (Uint32{bgr[2]} << 16) | (Uint32{bgr[1]} << 8) | Uint32{bgr[0]};
        }
    }
}

} // namespace

WindowManager::WindowManager(Canvas& canvas) : canvas_(canvas) {
    int w = 0;
    int h = 0;
    canvas_.size(w, h);
    width_ = w;
    height_ = h;

    if (TTF_Init() == 0) {
        caption_font_ = open_font("Tahoma", nullptr, 0, shell::caption_height(height_));
        symbol_font_ =
            open_font("Arial Unicode MS", shell::kNoImageSymbols, shell::kNoImageSymbolCount, 48);
    } else {
        GW_TRACE(kModule, 1, "WindowManager : no text (%s)", TTF_GetError());
    }
    // SDL leaves a new window image uninitialised: an expose before the first picture shows black.
    if (SDL_Surface* frame = canvas_.frame())
        SDL_FillRect(frame, nullptr, SDL_MapRGB(frame->format, 0, 0, 0));
}

WindowManager::~WindowManager() {
    if (caption_font_) TTF_CloseFont(caption_font_);
    if (symbol_font_) TTF_CloseFont(symbol_font_);
    if (TTF_WasInit()) TTF_Quit();
}

// Drawn straight into the window's own image, which X keeps for repainting: no second frame
// of the screen's size, but for a fade's two copies of the area.
void WindowManager::draw_bitmap(const BitMap* image, const std::string& caption) {
    SDL_Surface* frame = canvas_.frame();
    if (!frame) {
        // Said once: the loop ends the show at this, rather than step on with nothing shown.
        if (!cannot_draw_)
            GW_TRACE(kModule, 1, "WindowManager : no window surface (%s)", SDL_GetError());
        cannot_draw_ = true;
        return;
    }
    const SDL_Rect where = area();
    // Another monitor's fade is over at once, rather than left half done.
    if (fade_.running() && !SDL_RectEquals(&fade_area_, &where)) show_fade(true);
    // A picture that comes during a fade fades in from the frame on screen.
    const bool fading = fade_ms_ > 0 && keep_area(frame, where, fade_from_);
    if (last_area_.w > 0 && !SDL_RectEquals(&last_area_, &where)) dim_last_caption(frame);
    last_area_ = where;
    last_caption_ = image ? caption : std::string();

    SDL_FillRect(frame, &where, SDL_MapRGB(frame->format, 0, 0, 0));
    if (image) {
        const int x = where.x + shell::centred(where.w, image->width());
        const int y = where.y + shell::centred(where.h, image->height());
        if (SDL_LockSurface(frame) == 0) {
            copy_picture(frame, *image, x, y);
            SDL_UnlockSurface(frame);
        }
        draw_text(frame, caption_font_, displayable(caption), where.x, where.y);
    } else {
        const std::string text = shell::no_image_text(shell::no_image_symbol());
        int cx = 0;
        int cy = 0;
        if (symbol_font_) TTF_SizeUTF8(symbol_font_, text.c_str(), &cx, &cy);
        std::int32_t x = 0;
        std::int32_t y = 0;
        shell::no_image_position(where.w, where.h, cx, cy, x, y);
        draw_text(frame, symbol_font_, text, where.x + x, where.y + y);
    }
    if (fading && keep_area(frame, where, fade_to_)) {
        fade_area_ = where;
        fade_started_ = elapsed_ms();
        fade_frames_ = 0;
        fade_.start(fade_started_, fade_ms_);
        show_fade(false);
    } else {
        fade_.stop();
        canvas_.present();
    }
    if (image)
        shell::trace_drawn(caption);
    else
        shell::trace_no_image();
}

void WindowManager::fade_frame() { show_fade(false); }

void WindowManager::show_fade(bool at_end) {
    if (!fade_.running()) return;
    SDL_Surface* frame = canvas_.frame();
    const SDL_Rect& at = fade_area_;
    // A window that changed size since has lost both the frame and the copies' place.
    if (!frame || at.x + at.w > frame->w || at.y + at.h > frame->h ||
        fade_to_.size() != static_cast<std::size_t>(at.w) * static_cast<std::size_t>(at.h)) {
        fade_.stop();
        return;
    }
    if (at_end) fade_.stop();
    const std::uint32_t weight = fade_.weight(elapsed_ms());
    if (SDL_LockSurface(frame) != 0) return;
    auto* pixels = static_cast<std::uint8_t*>(frame->pixels);
    for (int row = 0; row < at.h; ++row) {
        const std::size_t first = static_cast<std::size_t>(row) * static_cast<std::size_t>(at.w);
        auto* line = reinterpret_cast<Uint32*>(pixels + static_cast<std::ptrdiff_t>(at.y + row) *
                                                            frame->pitch) +
                     at.x;
        mix_pixels(fade_from_.data() + first, fade_to_.data() + first, line,
                   static_cast<std::size_t>(at.w), weight);
    }
    SDL_UnlockSurface(frame);
    canvas_.present(at);
    ++fade_frames_;
    if (!fade_.running()) {
        GW_TRACE(kModule, 4, "fade : %d frames in %d ms", fade_frames_,
                 static_cast<int>(static_cast<std::uint32_t>(elapsed_ms()) -
                                  static_cast<std::uint32_t>(fade_started_)));
        // The copies are a screen's worth each: not kept between pictures.
        std::vector<Uint32>().swap(fade_from_);
        std::vector<Uint32>().swap(fade_to_);
    }
}

void WindowManager::set_area(const ScreenSaver::Area& area) {
    area_ = area;
    area_set_ = true;
}

SDL_Rect WindowManager::area() const {
    SDL_Rect whole = {0, 0, width_, height_};
    if (!area_set_) return whole;
    const SDL_Rect wanted = {area_.x, area_.y, area_.width, area_.height};
    SDL_Rect inside = {0, 0, 0, 0};
    // A monitor that lies (partly) outside the window is drawn where the window has it.
    return SDL_IntersectRect(&wanted, &whole, &inside) ? inside : whole;
}

bool WindowManager::keep_area(SDL_Surface* frame, const SDL_Rect& area,
                              std::vector<Uint32>& pixels) const {
    const SDL_PixelFormat& format = *frame->format;
    if (format.BytesPerPixel != 4 || area.w <= 0 || area.h <= 0 || area.x + area.w > frame->w ||
        area.y + area.h > frame->h)
        return false;
    const std::size_t width = static_cast<std::size_t>(area.w);
    pixels.resize(width * static_cast<std::size_t>(area.h));
    if (SDL_LockSurface(frame) != 0) return false;
    const auto* bytes = static_cast<const std::uint8_t*>(frame->pixels);
    for (int row = 0; row < area.h; ++row) {
        const auto* line = reinterpret_cast<const Uint32*>(
                               bytes + static_cast<std::ptrdiff_t>(area.y + row) * frame->pitch) +
                           area.x;
        std::copy(line, line + width, pixels.begin() + static_cast<std::ptrdiff_t>(row * width));
    }
    SDL_UnlockSurface(frame);
    return true;
}

// The same text, font and place: the shaded box covers the bright caption exactly.
void WindowManager::dim_last_caption(SDL_Surface* frame) {
    if (last_caption_.empty()) return;
    draw_text(frame, caption_font_, displayable(last_caption_), last_area_.x, last_area_.y,
              kDimTextColour);
    if (!fade_.running()) canvas_.present(last_area_);
}

// SDL drops the window's image when the window changes size, and then refuses to update it.
bool WindowManager::repaint() { return canvas_.present(); }

void WindowManager::resize(std::int32_t width, std::int32_t height) {
    fade_.stop();
    last_area_ = {0, 0, 0, 0};
    if (width > 0 && height > 0) {
        width_ = width;
        height_ = height;
    }
}

bool WindowManager::delete_file(const char* path) {
    if (shell::deletion_refused(path)) return false;
    // lstat: a link goes to the trash itself, never the file or folder it leads to.
    struct stat st;
    if (lstat(path, &st) != 0) return shell::refuse_deletion(path, std::strerror(errno));
    if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode))
        return shell::refuse_deletion(path, "not a file");

    GFile* file = g_vfs_get_file_for_path(g_vfs_get_local(), path);
    GError* error = nullptr;
    const bool trashed = g_file_trash(file, nullptr, &error) != FALSE;
    g_object_unref(file);
    if (!trashed) {
        shell::refuse_deletion(path, error ? error->message : "unknown error");
        if (error) g_error_free(error);
        return false;
    }
    shell::trace_deleted(path);
    return true;
}
