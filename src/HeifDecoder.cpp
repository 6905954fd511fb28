// HEIF and AVIF through libheif (HEVC through libde265, AV1 through dav1d or libaom).
#include "HeifDecoder.h"

#include <libheif/heif.h>

#include <vector>

namespace {

struct ContextDeleter {
    void operator()(heif_context* context) const { heif_context_free(context); }
};
struct HandleDeleter {
    void operator()(heif_image_handle* handle) const { heif_image_handle_release(handle); }
};
struct ImageDeleter {
    void operator()(heif_image* image) const { heif_image_release(image); }
};
using Context = std::unique_ptr<heif_context, ContextDeleter>;
using Handle = std::unique_ptr<heif_image_handle, HandleDeleter>;
using Image = std::unique_ptr<heif_image, ImageDeleter>;

bool failed(const heif_error& result, std::string& error) {
    if (result.code == heif_error_Ok) return false;
    error = result.message ? result.message : "libheif error";
    return true;
}

// libheif refuses a picture with a side beyond this, in its size property and in the output
// size of a grid of tiles alike. The grid's own size is not what the handle reports: without
// this bound a 600-byte file announcing a grid of 65535 x 62976 made libheif allocate 6.5 GB.
// 16384 x 16384 is the pixel guard's 256 megapixels; phones' panoramas stay below 16384 wide.
constexpr int kMaxSide = 16384;

} // namespace

struct HeifDecoder::State {
    Context context;
    Handle primary;
};

HeifDecoder::HeifDecoder(std::unique_ptr<State> state) : state_(std::move(state)) {}
HeifDecoder::~HeifDecoder() = default;

bool HeifDecoder::available() { return true; }

std::unique_ptr<HeifDecoder> HeifDecoder::open(const char* path, std::string& error) {
    // Reference counted inside libheif; the one initialisation lasts for the process.
    static const bool initialised = heif_init(nullptr).code == heif_error_Ok;
    if (!initialised) {
        error = "libheif cannot be initialised";
        return nullptr;
    }
    auto state = std::make_unique<State>();
    state->context.reset(heif_context_alloc());
    if (!state->context) {
        error = "libheif context";
        return nullptr;
    }
    heif_context_set_maximum_image_size_limit(state->context.get(), kMaxSide);
    if (failed(heif_context_read_from_file(state->context.get(), path, nullptr), error))
        return nullptr;
    heif_image_handle* primary = nullptr;
    if (failed(heif_context_get_primary_image_handle(state->context.get(), &primary), error))
        return nullptr;
    state->primary.reset(primary);
    return std::unique_ptr<HeifDecoder>(new HeifDecoder(std::move(state)));
}

std::int32_t HeifDecoder::width() const {
    return heif_image_handle_get_width(state_->primary.get());
}

std::int32_t HeifDecoder::height() const {
    return heif_image_handle_get_height(state_->primary.get());
}

bool HeifDecoder::decode(std::int32_t min_width, std::int32_t min_height, const Target& target,
                         std::string& error) {
    // A thumbnail is far cheaper to decode; phones store small ones, so it rarely serves.
    const heif_image_handle* source = state_->primary.get();
    Handle thumbnail;
    const int thumbnails = heif_image_handle_get_number_of_thumbnails(source);
    if (thumbnails > 0) {
        std::vector<heif_item_id> ids(static_cast<std::size_t>(thumbnails));
        const int listed =
            heif_image_handle_get_list_of_thumbnail_IDs(source, ids.data(), thumbnails);
        for (int i = 0; i < listed && !thumbnail; ++i) {
            heif_image_handle* candidate = nullptr;
            if (failed(heif_image_handle_get_thumbnail(source, ids[static_cast<std::size_t>(i)],
                                                       &candidate),
                       error))
                continue;
            Handle held(candidate);
            if (heif_image_handle_get_width(candidate) >= min_width &&
                heif_image_handle_get_height(candidate) >= min_height)
                thumbnail = std::move(held);
        }
        error.clear();
    }
    if (thumbnail) source = thumbnail.get();

    heif_image* decoded = nullptr;
    if (failed(heif_decode_image(source, &decoded, heif_colorspace_RGB, heif_chroma_interleaved_RGB,
                                 nullptr),
               error))
        return false;
    Image image(decoded);
    int stride = 0;
    const std::uint8_t* plane =
        heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    const int width = heif_image_get_width(image.get(), heif_channel_interleaved);
    const int height = heif_image_get_height(image.get(), heif_channel_interleaved);
    if (!plane || width <= 0 || height <= 0 || stride < 3 * width) {
        error = "no pixels decoded";
        return false;
    }
    const Rows rows = target(width, height);
    if (!rows.top) {
        error = "no room for the pixels";
        return false;
    }
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* in = plane + static_cast<std::ptrdiff_t>(y) * stride;
        std::uint8_t* out = rows.top + static_cast<std::ptrdiff_t>(y) * rows.stride;
        for (int x = 0; x < width; ++x, in += 3, out += 3) {
            out[0] = in[2];
            out[1] = in[1];
            out[2] = in[0];
        }
    }
    return true;
}
