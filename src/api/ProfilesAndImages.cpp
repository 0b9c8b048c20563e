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

namespace Frame {

// The fields that a profile and an augmented profile share, in record order.
template <class R>
auto ProfileFields() {
    return std::make_tuple(Field("qualityID", &R::qualityID),
                           ConvertedField("timestamp", &R::timestamp, Measurement::ToTimestamp),
                           Field("prec", &R::prec), Field("xStart", &R::xStart),
                           Field("length", &R::length),
                           WalkedField<R>("points", Measurement::SplitPoints<R>));
}

template <>
struct Schema<Profile> {
    static inline const auto fields = ProfileFields<Profile>();
};

template <>
struct Schema<AugmentedProfile> {
    static inline const auto fields =
        std::tuple_cat(ProfileFields<AugmentedProfile>(),
                       std::make_tuple(Field("brightness", &AugmentedProfile::brightness)));
};

template <>
struct Schema<ProfileMeta> {
    using R = ProfileMeta;
    static inline const auto fields = std::make_tuple(
        Field("maxLength", &R::maxLength), Field("xUnit", &R::xUnit), Field("zUnit", &R::zUnit));
};

template <>
struct Schema<Image> {
    using R = Image;
    static inline const auto fields =
        std::make_tuple(Field("roiHeight", &R::roiHeight), Field("roiWidth", &R::roiWidth),
                        Field("rowOffset", &R::rowOffset), Field("columnOffset", &R::columnOffset),
                        Field("rowBinning", &R::rowBinning), Field("colBinning", &R::colBinning),
                        WalkedField<R>("pixels", DecodePixels));
};

template <>
struct Schema<ImageMeta> {
    using R = ImageMeta;
    static inline const auto fields = std::make_tuple(Field("sensorHeight", &R::sensorHeight),
                                                      Field("sensorWidth", &R::sensorWidth),
                                                      Field("maxROIPixels", &R::maxROIPixels));
};

}  // namespace Frame

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
