// The FreeImage calls of the picture decoder, bound at run time to the FreeImage.dll that lies
// beside the program (or in the system folder). Without a usable DLL every picture is simply
// not displayable.
#include "Tracer.h"

#include <windows.h>

#include <FreeImage.h>

#include <string>

namespace {
const std::int32_t kModule = Tracer::register_module("BitMap");

// One entry per function of the DLL; each forwarder below reads its own slot. WINAPI is the
// DLL's calling convention (the same as the default one on x64).
struct Api {
    FREE_IMAGE_FORMAT(WINAPI* GetFileType)(const char*, int);
    BOOL(WINAPI* FIFSupportsNoPixels)(FREE_IMAGE_FORMAT);
    FIBITMAP*(WINAPI* Load)(FREE_IMAGE_FORMAT, const char*, int);
    unsigned(WINAPI* GetWidth)(FIBITMAP*);
    unsigned(WINAPI* GetHeight)(FIBITMAP*);
    BOOL(WINAPI* GetMetadata)(FREE_IMAGE_MDMODEL, FIBITMAP*, const char*, FITAG**);
    FREE_IMAGE_MDTYPE(WINAPI* GetTagType)(FITAG*);
    DWORD(WINAPI* GetTagLength)(FITAG*);
    const void*(WINAPI* GetTagValue)(FITAG*);
    FREE_IMAGE_TYPE(WINAPI* GetImageType)(FIBITMAP*);
    unsigned(WINAPI* GetBPP)(FIBITMAP*);
    FIBITMAP*(WINAPI* ConvertTo24Bits)(FIBITMAP*);
    FIBITMAP*(WINAPI* Rescale)(FIBITMAP*, int, int, FREE_IMAGE_FILTER);
    BYTE*(WINAPI* GetBits)(FIBITMAP*);
    unsigned(WINAPI* GetPitch)(FIBITMAP*);
    void(WINAPI* Unload)(FIBITMAP*);
    const char*(WINAPI* GetFormatFromFIF)(FREE_IMAGE_FORMAT);
    void(WINAPI* SetOutputMessage)(FreeImage_OutputMessageFunction);
    FIBITMAP*(WINAPI* ConvertTo8Bits)(FIBITMAP*);
    FIBITMAP*(WINAPI* ConvertToRGBF)(FIBITMAP*);
    FIBITMAP*(WINAPI* ConvertToStandardType)(FIBITMAP*, BOOL);
    FIBITMAP*(WINAPI* ToneMapping)(FIBITMAP*, FREE_IMAGE_TMO, double, double);
    FIBITMAP*(WINAPI* Allocate)(int, int, int, unsigned, unsigned, unsigned);
};

// FreeImage.dll from the program's folder or the system folder only: the current folder and
// PATH are places where anyone who can write a folder could plant a DLL of that name.
HMODULE load_freeimage() {
    HMODULE dll =
        LoadLibraryExA("FreeImage.dll", nullptr,
                       LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (dll || GetLastError() != ERROR_INVALID_PARAMETER) return dll;
    // A system without those search flags: the program's folder, named in full.
    wchar_t module[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, module, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return nullptr;
    std::wstring path(module, length);
    const std::wstring::size_type cut = path.rfind(L'\\');
    if (cut == std::wstring::npos) return nullptr;
    path.resize(cut + 1);
    path += L"FreeImage.dll";
    return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

template <typename Function> bool bind(HMODULE dll, const char* name, Function& slot) {
    const FARPROC found = GetProcAddress(dll, name);
    if (!found) {
        GW_TRACE(kModule, 1, "FreeImage.dll has no %s: no picture can be shown", name);
        return false;
    }
    // Through the generic function type, which converts to any other without a warning.
    slot = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found));
    return true;
}

// The bound functions, or null when the DLL is missing or incomplete; tried once only, so that
// the trace says why a single time.
const Api* api() {
    static bool tried = false;
    static Api functions{};
    static const Api* bound = nullptr;
    if (tried) return bound;
    tried = true;

    HMODULE dll = load_freeimage();
    if (!dll) {
        GW_TRACE(kModule, 1, "FreeImage.dll cannot be loaded (error %lu): no picture can be shown",
                 static_cast<unsigned long>(GetLastError()));
        return nullptr;
    }
    // All or nothing: a DLL of another library that happens to carry the name is not half used.
    Api f{};
    // Each slot is bound under the library's name of the same function.
#define GW_BIND(function) bind(dll, "FreeImage_" #function, f.function)
    const bool complete =
        GW_BIND(GetFileType) && GW_BIND(FIFSupportsNoPixels) && GW_BIND(Load) &&
        GW_BIND(GetWidth) && GW_BIND(GetHeight) && GW_BIND(GetMetadata) && GW_BIND(GetTagType) &&
        GW_BIND(GetTagLength) && GW_BIND(GetTagValue) && GW_BIND(GetImageType) && GW_BIND(GetBPP) &&
        GW_BIND(ConvertTo24Bits) && GW_BIND(Rescale) && GW_BIND(GetBits) && GW_BIND(GetPitch) &&
        GW_BIND(Unload) && GW_BIND(GetFormatFromFIF) && GW_BIND(SetOutputMessage) &&
        GW_BIND(ConvertTo8Bits) && GW_BIND(ConvertToRGBF) && GW_BIND(ConvertToStandardType) &&
        GW_BIND(ToneMapping) && GW_BIND(Allocate);
#undef GW_BIND
    if (!complete) {
        FreeLibrary(dll);
        return nullptr;
    }
    // Kept loaded for the rest of the process: pictures in the cache live until static
    // destruction.
    functions = f;
    bound = &functions;
    return bound;
}
} // namespace

FREE_IMAGE_FORMAT FreeImage_GetFileType(const char* filename, int size) {
    const Api* f = api();
    return f ? f->GetFileType(filename, size) : FIF_UNKNOWN;
}

BOOL FreeImage_FIFSupportsNoPixels(FREE_IMAGE_FORMAT fif) {
    const Api* f = api();
    return f ? f->FIFSupportsNoPixels(fif) : FALSE;
}

FIBITMAP* FreeImage_Load(FREE_IMAGE_FORMAT fif, const char* filename, int flags) {
    const Api* f = api();
    return f ? f->Load(fif, filename, flags) : nullptr;
}

unsigned FreeImage_GetWidth(FIBITMAP* dib) {
    const Api* f = api();
    return f ? f->GetWidth(dib) : 0;
}

unsigned FreeImage_GetHeight(FIBITMAP* dib) {
    const Api* f = api();
    return f ? f->GetHeight(dib) : 0;
}

BOOL FreeImage_GetMetadata(FREE_IMAGE_MDMODEL model, FIBITMAP* dib, const char* key, FITAG** tag) {
    const Api* f = api();
    return f ? f->GetMetadata(model, dib, key, tag) : FALSE;
}

FREE_IMAGE_MDTYPE FreeImage_GetTagType(FITAG* tag) {
    const Api* f = api();
    return f ? f->GetTagType(tag) : FIDT_NOTYPE;
}

DWORD FreeImage_GetTagLength(FITAG* tag) {
    const Api* f = api();
    return f ? f->GetTagLength(tag) : 0;
}

const void* FreeImage_GetTagValue(FITAG* tag) {
    const Api* f = api();
    return f ? f->GetTagValue(tag) : nullptr;
}

FREE_IMAGE_TYPE FreeImage_GetImageType(FIBITMAP* dib) {
    const Api* f = api();
    return f ? f->GetImageType(dib) : FIT_UNKNOWN;
}

unsigned FreeImage_GetBPP(FIBITMAP* dib) {
    const Api* f = api();
    return f ? f->GetBPP(dib) : 0;
}

FIBITMAP* FreeImage_ConvertTo24Bits(FIBITMAP* dib) {
    const Api* f = api();
    return f ? f->ConvertTo24Bits(dib) : nullptr;
}

FIBITMAP* FreeImage_Rescale(FIBITMAP* dib, int dst_width, int dst_height,
                            FREE_IMAGE_FILTER filter) {
    const Api* f = api();
    return f ? f->Rescale(dib, dst_width, dst_height, filter) : nullptr;
}

BYTE* FreeImage_GetBits(FIBITMAP* dib) {
    const Api* f = api();
    return f ? f->GetBits(dib) : nullptr;
}

unsigned FreeImage_GetPitch(FIBITMAP* dib) {
    const Api* f = api();
    return f ? f->GetPitch(dib) : 0;
}

void FreeImage_Unload(FIBITMAP* dib) {
    const Api* f = api();
    if (f) f->Unload(dib);
}

const char* FreeImage_GetFormatFromFIF(FREE_IMAGE_FORMAT fif) {
    const Api* f = api();
    return f ? f->GetFormatFromFIF(fif) : nullptr;
}

void FreeImage_SetOutputMessage(FreeImage_OutputMessageFunction function) {
    const Api* f = api();
    if (f) f->SetOutputMessage(function);
}

FIBITMAP* FreeImage_ConvertTo8Bits(FIBITMAP* dib) {
    const Api* f = api();
    return f ? f->ConvertTo8Bits(dib) : nullptr;
}

FIBITMAP* FreeImage_ConvertToRGBF(FIBITMAP* dib) {
    const Api* f = api();
    return f ? f->ConvertToRGBF(dib) : nullptr;
}

FIBITMAP* FreeImage_ConvertToStandardType(FIBITMAP* src, BOOL scale_linear) {
    const Api* f = api();
    return f ? f->ConvertToStandardType(src, scale_linear) : nullptr;
}

FIBITMAP* FreeImage_ToneMapping(FIBITMAP* dib, FREE_IMAGE_TMO tmo, double first_param,
                                double second_param) {
    const Api* f = api();
    return f ? f->ToneMapping(dib, tmo, first_param, second_param) : nullptr;
}

FIBITMAP* FreeImage_Allocate(int width, int height, int bpp, unsigned red_mask, unsigned green_mask,
                             unsigned blue_mask) {
    const Api* f = api();
    return f ? f->Allocate(width, height, bpp, red_mask, green_mask, blue_mask) : nullptr;
}
