// quil.Client: every operation of the library's client, under its snake_case name, with the
// GIL released while it waits for the sensor.
#include "Client.h"
#include "Documented.h"

#include <quil/ConnectionProbe.h>
#include <quil/SensorAddress.h>

namespace QuilPython {
namespace {

/// Binds operation `op` of Quil as a method: arguments converted with the GIL held, the call
/// made without it (Client::Request).
template <class Result, class... Args>
auto Op(Result (Quil::*op)(Args...)) {
    return [op](const Client& client, std::decay_t<Args>... args) -> Result {
        return client.Request([&](Quil& quil) -> Result { return (quil.*op)(args...); });
    };
}

template <class... Args>
constexpr auto Overload = py::overload_cast<Args...>;

}  // namespace

void BindClient(py::module_& m) {
    using py::arg;
    // How the client reads "host:port", for the package's explanation of a failed connection.
    m.def("_split_sensor_address", [](const std::string& address) {
        const auto split = Varkon::QUILApi::SplitSensorAddress(address);
        return py::make_tuple(split.host, std::stoi(split.port));
    });
    // Why no connection opens there, in the library's words, found within `limit` seconds.
    m.def("_why_no_connection", [](const std::string& address, double limit) {
        const py::gil_scoped_release unlocked;
        return Varkon::QUILApi::WhyNoConnection(
            address, std::chrono::milliseconds(static_cast<int64_t>(limit * 1000)));
    });
    Documented<Client> cls(m, "Client");
    cls.def(py::init<const std::string&, unsigned short>(), arg("host"), arg("udp_port") = 5000,
            py::doc(StubDocstring("Client.__init__")));
    cls.def_property_readonly("closed", &Client::Closed);
    cls.def(
           "__enter__", [](Client& client) -> Client& { return client; },
           py::return_value_policy::reference)
        .def("__exit__", [](Client& client, py::args) { client.Close(); })
        .def("close", &Client::Close)
        .def("__repr__",
             [](const Client& client) {
                 return client.Closed() ? std::string("<quil.Client closed>")
                                        : "<quil.Client " + client.Get().GetHost() + ", UDP port " +
                                              std::to_string(client.Get().GetStreamPort()) + ">";
             })
        // Session and roles
        .def("connect", Op(&Quil::Connect))
        .def("disconnect", Op(&Quil::Disconnect))
        .def("login", Op(&Quil::Login), arg("role"), arg("password") = "")
        .def("logout", Op(&Quil::Logout))
        .def("get_sensor_meta_data", Op(&Quil::GetSensorMetaData))
        // Network and time server
        .def("get_network", Op(&Quil::GetNetwork))
        .def("set_network", Op(Overload<const Network&>(&Quil::SetNetwork)), arg("network"))
        .def("set_network",
             Op(Overload<const bool&, const std::string&, const std::string&, const std::string&>(
                 &Quil::SetNetwork)),
             arg("use_dhcp"), arg("static_ip"), arg("subnet_mask"), arg("gateway"))
        .def("get_timeserver_meta", Op(&Quil::GetTimeserverMeta))
        .def("get_timeserver", Op(&Quil::GetTimeserver))
        .def("set_timeserver", Op(Overload<const Timeserver&>(&Quil::SetTimeserver)),
             arg("timeserver"))
        .def("set_timeserver",
             Op(Overload<const bool&, const std::vector<std::string>&>(&Quil::SetTimeserver)),
             arg("use_ntp"), arg("ntp_servers"))
        // Process interfaces and UDP output
        .def("get_process_interfaces_meta", Op(&Quil::GetProcessInterfacesMeta))
        .def("get_process_interfaces", Op(&Quil::GetProcessInterfaces))
        .def("set_process_interfaces",
             Op(Overload<const ProcessInterfaces&>(&Quil::SetProcessInterfaces)),
             arg("process_interfaces"))
        .def("set_process_interfaces",
             Op(Overload<const bool&, const bool&, const uint32_t&, const bool&, const std::string&,
                         const uint32_t&, const uint32_t&>(&Quil::SetProcessInterfaces)),
             arg("enable_modbus"), arg("enable_opcua"), arg("realtime_protocol_id"),
             arg("enable_udp_streaming"), arg("udp_destination_ip"), arg("udp_destination_port"),
             arg("iol_process_data_layout"))
        .def("get_udp_meta", Op(&Quil::GetUDPMeta))
        .def("get_udp_stream_data", Op(&Quil::GetUDPStreamData))
        .def("set_udp_stream_data", Op(&Quil::SetUDPStreamData), arg("udp_stream_data"))
        // Laser power and exposure time
        .def("get_laser_power", Op(&Quil::GetLaserPower))
        .def("set_laser_power", Op(&Quil::SetLaserPower), arg("factor"))
        .def("get_laser_power_meta", Op(&Quil::GetLaserPowerMeta))
        .def("get_laser_power_limits", Op(&Quil::GetLaserPowerLimits))
        .def("get_exposure_time", Op(&Quil::GetExposureTime))
        .def("set_exposure_time", Op(&Quil::SetExposureTime), arg("exposure_time"))
        .def("get_exposure_time_limits", Op(&Quil::GetExposureTimeLimits))
        .def("get_exposure_time_meta", Op(&Quil::GetExposureTimeMeta))
        // Trigger
        .def("trigger_fire", Op(&Quil::TriggerFire), arg("count"))
        .def("get_trigger", Op(&Quil::GetTrigger))
        .def("set_trigger", Op(Overload<const Trigger&>(&Quil::SetTrigger)), arg("trigger"))
        .def("set_trigger",
             Op(Overload<const uint32_t&, const uint32_t&, const uint32_t&, const uint32_t&>(
                 &Quil::SetTrigger)),
             arg("trigger_mode"), arg("mode_option"), arg("trigger_time"), arg("encoder_steps"))
        .def("get_trigger_limits", Op(&Quil::GetTriggerLimits))
        .def("get_trigger_meta", Op(&Quil::GetTriggerMeta))
        // Resolution, resampling and profile filter
        .def("get_resolution", Op(&Quil::GetResolution))
        .def("set_resolution", Op(Overload<const Resolution&>(&Quil::SetResolution)),
             arg("resolution"))
        .def("set_resolution", Op(Overload<const uint32_t&, const uint32_t&>(&Quil::SetResolution)),
             arg("x_resolution"), arg("z_resolution"))
        .def("get_resolution_limits", Op(&Quil::GetResolutionLimits))
        .def("get_resampling_enabled", Op(&Quil::GetResamplingEnabled))
        .def("get_resampling", Op(&Quil::GetResampling))
        .def("set_resampling", Op(Overload<const Resampling&>(&Quil::SetResampling)),
             arg("resampling"))
        .def("set_resampling", Op(Overload<const bool&, const double&>(&Quil::SetResampling)),
             arg("enabled"), arg("grid_value"))
        .def("get_resampling_meta", Op(&Quil::GetResamplingMeta))
        .def("get_profile_filter", Op(&Quil::GetProfileFilter))
        .def("set_profile_filter", Op(Overload<const ProfileFilter&>(&Quil::SetProfileFilter)),
             arg("profile_filter"))
        .def("set_profile_filter",
             Op(Overload<const bool&, const uint32_t&>(&Quil::SetProfileFilter)),
             arg("moving_average_enabled"), arg("moving_average_length"))
        .def("get_profile_filter_enabled", Op(&Quil::GetProfileFilterEnabled))
        .def("get_profile_filter_meta", Op(&Quil::GetProfileFilterMeta))
        // Profile algorithm
        .def("get_profile_algorithm", Op(&Quil::GetProfileAlgorithm))
        .def("set_profile_algorithm", Op(&Quil::SetProfileAlgorithm), arg("algorithm_id"))
        .def("get_profile_algorithm_meta", Op(&Quil::GetProfileAlgorithmMeta))
        .def("get_profile_algorithm_params_limits", Op(&Quil::GetProfileAlgorithmParamsLimits),
             arg("algorithm_id"))
        .def("get_profile_algorithm_params_meta", Op(&Quil::GetProfileAlgorithmParamsMeta))
        .def("get_profile_algorithm_params", Op(&Quil::GetProfileAlgorithmParams),
             arg("algorithm_id"))
        .def("set_profile_algorithm_params",
             Op(Overload<const uint32_t&, const ProfileAlgorithmParams&>(
                 &Quil::SetProfileAlgorithmParams)),
             arg("algorithm_id"), arg("params"))
        .def("set_profile_algorithm_params",
             Op(Overload<const uint32_t&, const uint32_t&, const uint32_t&, const uint32_t&,
                         const uint32_t&>(&Quil::SetProfileAlgorithmParams)),
             arg("algorithm_id"), arg("min_peak_height"), arg("min_peak_width"),
             arg("threshold_value"), arg("threshold_type_id"))
        // Axes and field of view
        .def("get_axes_meta", Op(&Quil::GetAxesMeta))
        .def("get_axes", Op(&Quil::GetAxes))
        .def("set_axes", Op(&Quil::SetAxes), arg("z_axis_definition_id"))
        .def("get_fov", Op(&Quil::GetFoV))
        .def("set_fov", Op(Overload<const FoV&>(&Quil::SetFoV)), arg("fov"))
        .def(
            "set_fov",
            Op(Overload<const double&, const double&, const double&, const double&>(&Quil::SetFoV)),
            arg("limit_left"), arg("limit_right"), arg("offset"), arg("height"))
        .def("get_fov_distance", Op(&Quil::GetFoVDistance))
        .def("set_fov_distance", Op(Overload<const FoVDistance&>(&Quil::SetFoVDistance)),
             arg("fov_distance"))
        .def("set_fov_distance",
             Op(Overload<const double&, const double&, const double&, const double&>(
                 &Quil::SetFoVDistance)),
             arg("limit_left"), arg("limit_right"), arg("near"), arg("far"))
        .def("get_fov_limits", Op(&Quil::GetFoVLimits))
        .def("get_fov_meta", Op(&Quil::GetFoVMeta))
        // Settings backup and restore
        .def("read_all_settings", Op(&Quil::ReadAllSettings))
        .def("read_single_setting", Op(&Quil::ReadSingleSetting), arg("num_setup"))
        .def("write_all_settings", Op(&Quil::WriteAllSettings), arg("blob"))
        .def("write_single_setting", Op(&Quil::WriteSingleSetting), arg("blob"), arg("num_setup"))
        // Parameter setups
        .def("get_startup_setup", Op(&Quil::GetStartupSetup))
        .def("set_startup_setup", Op(&Quil::SetStartupSetup), arg("num_setup"))
        .def("set_active_setup", Op(&Quil::SetActiveSetup), arg("active"))
        .def("store_to_setup", Op(&Quil::StoreToSetup), arg("num_setup"))
        .def("all_settings_reset", Op(&Quil::AllSettingsReset))
        .def("get_parameter_setup", Op(&Quil::GetParameterSetup), arg("num_setup"))
        .def("get_parameter_setup_meta", Op(&Quil::GetParameterSetupMeta))
        .def("get_active_setup", Op(&Quil::GetActiveSetup))
        // Measurement values
        .def("get_measurement_values", Op(&Quil::GetMeasurementValues))
        .def("get_measurement_meta", Op(&Quil::GetMeasurementMeta))
        .def("get_measurement_values_meta", Op(&Quil::GetMeasurementValuesMeta))
        // Profiles and images
        .def("get_profile", Op(&Quil::GetProfile))
        .def("get_profile_meta", Op(&Quil::GetProfileMeta))
        .def("get_augmented_profile", Op(&Quil::GetAugmentedProfile))
        .def("get_image", Op(&Quil::GetImage))
        .def("get_image_meta", Op(&Quil::GetImageMeta))
        .def("save_image", Op(&Quil::SaveImage), arg("file_name"), arg("image"))
        // Beyond the sensor's resources
        .def("get_host", Op(&Quil::GetHost))
        .def("get_stream_port", Op(&Quil::GetStreamPort))
        .def("diagnose_stream", Op(&Quil::DiagnoseStream))
        .def(
            "set_request_timeout",
            [](const Client& client, double seconds) {
                // NaN and anything not positive reach the library as 0, which it refuses with
                // its own text; beyond 1e9 s (31 years) is no limit worth counting.
                const double limited = seconds > 0 ? std::min(seconds, 1e9) : 0.0;
                client.Get().SetRequestTimeout(
                    std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::duration<double>(limited)));
            },
            arg("seconds"))
        .def("set_auto_reconnect", Op(&Quil::SetAutoReconnect), arg("enabled"))
        .def(
            "describe_sensor_for_recording",
            [](const Client& client, const std::string& settings) {
                return client.Request(
                    [&](Quil& quil) { return DescribeSensorForRecording(quil, settings); });
            },
            arg("settings") = "");
}

}  // namespace QuilPython
