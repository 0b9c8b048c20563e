// Profiles and images: "Profile", "ProfileMeta", "AugmentedProfile", "Image", "ImageMeta".
#include "api/Base64.h"
#include "api/MeasurementConversions.h"
#include "api/QuilApi.h"

namespace Varkon::QUILApi {
namespace {

// "pixels": Base64 text decoded straight into the record, before the other keys are converted.
void DecodePixels(const nlohmann::json& value, Image& image) {
    if (!value.is_string()) {
        (void)value.get<std::string>();  // the library's "type must be string" error
    }
    Base64Decode(value.get_ref<const std::string&>(), image.pixels);
}

}  // namespace

namespace ResourceFrame {

// A profile's and an augmented profile's "points" alternate x and z.
template <class R>
auto ProfileSchema() {
    return Derived<R>(
        ConvertedField("timestamp", &R::timestamp, Measurement::ToTimestamp),
        WalkedField<R>("points", Measurement::SplitPoints<R>).Filling({"xValues", "zValues"}));
}

template <>
struct Schema<Profile> {
    static inline const auto fields = ProfileSchema<Profile>();
};

template <>
struct Schema<AugmentedProfile> {
    static inline const auto fields = ProfileSchema<AugmentedProfile>();
};

template <>
struct Schema<Image> {
    static inline const auto fields = Derived<Image>(WalkedField<Image>("pixels", DecodePixels));
};

}  // namespace ResourceFrame

Profile QuilApi::GetProfile() {
    return Read<Profile>("Profile");
}

ProfileMeta QuilApi::GetProfileMeta() {
    return Read<ProfileMeta>("ProfileMeta");
}

AugmentedProfile QuilApi::GetAugmentedProfile() {
    return Read<AugmentedProfile>("AugmentedProfile");
}

Image QuilApi::GetImage() {
    return Read<Image>("Image");
}

ImageMeta QuilApi::GetImageMeta() {
    return Read<ImageMeta>("ImageMeta");
}

}  // namespace Varkon::QUILApi
