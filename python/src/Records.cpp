// Every record of the library as a Python class; only the class name is written here, the rest
// follows from the record's field list.
#include "Records.h"

namespace QuilPython {

void BindRecords(py::module_& m) {
    BindEnum<PacketErrorType>(m, "PacketErrorType",
                              {{"PacketsLost", PacketsLost},
                               {"UnexpectedBlockId", UnexpectedBlockId},
                               {"DuplicateBlockId", DuplicateBlockId},
                               {"FragmentTimeout", FragmentTimeout},
                               {"InvalidPacket", InvalidPacket},
                               {"EmptyContent", EmptyContent},
                               {"StreamingTaskException", StreamingTaskException}},
                              "Kind of a problem of the stream (StreamError.type).");
    BindEnum<QueueOverflowPolicy>(m, "QueueOverflowPolicy",
                                  {{"DropOldest", DropOldest}, {"DropNew", DropNew}},
                                  "What a full queue of the stream does with a new entry.");

    BindRecord<IdNameEntry>(m, "IdNameEntry");
    BindRecord<SensorMetaData>(m, "SensorMetaData");
    BindRecord<Network>(m, "Network");
    BindRecord<Timeserver>(m, "Timeserver");
    BindRecord<ProcessInterfaces>(m, "ProcessInterfaces");
    BindRecord<ProcessInterfacesMeta>(m, "ProcessInterfacesMeta");
    BindRecord<UDPMeta>(m, "UDPMeta");
    BindRecord<UDPStreamData>(m, "UDPStreamData");
    BindRecord<LaserPowerMeta>(m, "LaserPowerMeta");
    BindRecord<LaserPowerLimits>(m, "LaserPowerLimits");
    BindRecord<ExposureTimeLimits>(m, "ExposureTimeLimits");
    BindRecord<ExposureTimeMeta>(m, "ExposureTimeMeta");
    BindRecord<Trigger>(m, "Trigger");
    BindRecord<TriggerLimits>(m, "TriggerLimits");
    BindRecord<TriggerModeEntry>(m, "TriggerModeEntry");
    BindRecord<TriggerMeta>(m, "TriggerMeta");
    BindRecord<Resolution>(m, "Resolution");
    BindRecord<ResolutionLimits>(m, "ResolutionLimits");
    BindRecord<Resampling>(m, "Resampling");
    BindRecord<ResamplingMeta>(m, "ResamplingMeta");
    BindRecord<ProfileFilter>(m, "ProfileFilter");
    BindRecord<ProfileFilterMeta>(m, "ProfileFilterMeta");
    BindRecord<ProfileAlgorithmMeta>(m, "ProfileAlgorithmMeta");
    BindRecord<ProfileAlgorithmParams>(m, "ProfileAlgorithmParams");
    BindRecord<ProfileAlgorithmParamsMeta>(m, "ProfileAlgorithmParamsMeta");
    BindRecord<LimitRange>(m, "LimitRange");
    BindRecord<ThresholdTypeEntry>(m, "ThresholdTypeEntry");
    BindRecord<ProfileAlgorithmLimits>(m, "ProfileAlgorithmLimits");
    BindRecord<ProfileAlgorithmParamsLimits>(m, "ProfileAlgorithmParamsLimits");
    BindRecord<AxesMeta>(m, "AxesMeta");
    BindRecord<FoV>(m, "FoV");
    BindRecord<FoVDistance>(m, "FoVDistance");
    BindRecord<FoVLimits>(m, "FoVLimits");
    BindRecord<FoVMeta>(m, "FoVMeta");
    BindRecord<ActiveSetup>(m, "ActiveSetup");
    BindRecord<MeasurementValues>(m, "MeasurementValues");
    BindRecord<MeasurementMeta>(m, "MeasurementMeta");
    BindRecord<MeasurementTypeEntry>(m, "MeasurementTypeEntry");
    BindRecord<MeasurementValuesMeta>(m, "MeasurementValuesMeta");
    BindRecord<Profile>(m, "Profile");
    BindRecord<AugmentedProfile>(m, "AugmentedProfile");
    BindRecord<ProfileMeta>(m, "ProfileMeta");
    BindRecord<Image>(m, "Image")
        .def(
            "to_array",
            [](const Image& image) {
                const uint32_t height = image.rowBinning ? image.roiHeight / image.rowBinning : 0;
                const uint32_t width = image.colBinning ? image.roiWidth / image.colBinning : 0;
                if (static_cast<std::size_t>(height) * width != image.pixels.size()) {
                    throw std::invalid_argument("Image of " + std::to_string(image.pixels.size()) +
                                                " pixels is not " + std::to_string(height) +
                                                " rows of " + std::to_string(width) + ".");
                }
                py::array_t<uint8_t> array(
                    {static_cast<py::ssize_t>(height), static_cast<py::ssize_t>(width)});
                if (!image.pixels.empty()) {
                    std::memcpy(array.mutable_data(), image.pixels.data(), image.pixels.size());
                }
                return array;
            },
            "The pixels as a 2-D uint8 array of roiHeight / rowBinning rows and roiWidth / "
            "colBinning columns, as SaveImage writes them.");
    BindRecord<ImageMeta>(m, "ImageMeta");
    BindRecord<StreamMeasurement>(m, "StreamMeasurement");
    BindRecord<StreamProfile>(m, "StreamProfile")
        .def_property_readonly("acquisition_index", &StreamProfile::AcquisitionIndex,
                               "The index of the acquisition (field6).")
        .def_property_readonly("encoder_count", &StreamProfile::EncoderCount,
                               "The encoder count at the time of the profile (field18).");
    BindRecord<StreamError>(m, "StreamError");
}

}  // namespace QuilPython
