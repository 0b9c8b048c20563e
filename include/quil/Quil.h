// The quil client library: one header for applications.
//
// An application creates a client with Quil::Create(host, udpPort), connects, optionally takes a
// role, and then reads and writes the sensor's resources through the operations of Quil. Every
// operation blocks the calling thread until the sensor answers or a time limit passes. Failures
// are reported as standard exceptions with fixed English texts.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#if defined(_WIN32)
#if defined(QUIL_BUILDING_LIBRARY)
#define QUIL_API __declspec(dllexport)
#else
#define QUIL_API __declspec(dllimport)
#endif
#else
#define QUIL_API __attribute__((visibility("default")))
#endif

namespace Varkon::QUILApi {

// Records compare equal when all their fields do. Every record lists its fields once in Tie().
template <class Record, class = decltype(std::declval<const Record&>().Tie())>
bool operator==(const Record& a, const Record& b) {
    return a.Tie() == b.Tie();
}
template <class Record, class = decltype(std::declval<const Record&>().Tie())>
bool operator!=(const Record& a, const Record& b) {
    return !(a == b);
}

// ---------------------------------------------------------------------------------------------
// Result records. Field names are the sensor's JSON keys, letter for letter.
// ---------------------------------------------------------------------------------------------

/// One entry of a list of choices that the sensor offers.
struct IdNameEntry {
    uint32_t id{};     ///< "id"
    std::string name;  ///< "name"

    auto Tie() const { return std::tie(id, name); }
};

/// Identity of the sensor ("SensorMetaData").
struct SensorMetaData {
    std::string sensorType;          ///< "sensorType"
    std::string serialNumber;        ///< "serialNumber"
    std::string vendorName;          ///< "vendorName"
    std::string aggregateVersion;    ///< "aggregateVersion", or "-" when the sensor has none
    std::string controllerVersions;  ///< "I:<iface>,M:<meas>,L:<laser>", "-" for a missing one

    auto Tie() const {
        return std::tie(sensorType, serialNumber, vendorName, aggregateVersion, controllerVersions);
    }
};

// ---------------------------------------------------------------------------------------------
// UDP measurement stream
// ---------------------------------------------------------------------------------------------

namespace UdpStreaming {
// @@STREAM-DECLARATIONS-BEGIN@@

// Lets argument-dependent lookup find the records' comparison from this namespace too.
using ::Varkon::QUILApi::operator==;
using ::Varkon::QUILApi::operator!=;

/// Kind of a problem of the stream, the type of each entry of the error queue.
enum PacketErrorType : uint32_t {
    PacketsLost = 0,             ///< a block id jumped ahead: blocks in between were lost
    UnexpectedBlockId = 1,       ///< a block id below the last one arrived
    DuplicateBlockId = 2,        ///< the last block id arrived again
    FragmentTimeout = 3,         ///< a fragmented block was not completed in time
    InvalidPacket = 4,           ///< a datagram too short for the packet header
    EmptyContent = 5,            ///< a block without payload
    StreamingTaskException = 7,  ///< a block that could not be decoded, or a failed worker
};

/// What a full queue does with a new entry. Any value other than DropOldest acts as DropNew.
enum QueueOverflowPolicy : uint32_t {
    DropOldest = 0,  ///< the oldest entry makes room
    DropNew = 1,     ///< the new entry is discarded
};

/// Measurement values of one block (data id 0).
struct StreamMeasurement {
    uint32_t blockId{};              ///< block id of the packet header
    uint32_t qualityID{};            ///< quality id, as sent
    std::array<bool, 6> flags{};     ///< flags 1 to 6, as sent
    uint32_t EncoderValue{};         ///< encoder value
    double measrate{};               ///< measuring rate
    uint64_t timestamp{};            ///< time of the measurement in microseconds
    std::array<double, 7> values{};  ///< measurement values 0 to 6

    auto Tie() const {
        return std::tie(blockId, qualityID, flags, EncoderValue, measrate, timestamp, values);
    }
};

/// One profile (data ids 1 to 3). Channels hold pointCount values each, or none when absent;
/// points that the block did not carry read 0.
struct StreamProfile {
    uint32_t blockId{};              ///< block id of the packet header
    std::array<bool, 4> flags{};     ///< flags 1 to 4, as sent
    uint8_t qualityID{};             ///< quality id, as sent
    uint32_t field6{};               ///< header value at payload offset 6, as sent
    uint64_t timestamp{};            ///< time of the profile in microseconds
    uint16_t field18{};              ///< header value at payload offset 18, as sent
    uint32_t pointCount{};           ///< number of points
    std::vector<uint16_t> channel0;  ///< channel 0 of every point
    std::vector<uint16_t> channel1;  ///< channel 1 of every point, when hasChannel1
    std::vector<uint16_t> channel2;  ///< channel 2 of every point, when hasChannel2
    bool hasChannel1{};              ///< data id 1 or 3
    bool hasChannel2{};              ///< data id 2 or 3

    auto Tie() const {
        return std::tie(blockId, flags, qualityID, field6, timestamp, field18, pointCount, channel0,
                        channel1, channel2, hasChannel1, hasChannel2);
    }
};

/// One problem of the stream.
struct StreamError {
    uint32_t blockId{};      ///< the block concerned, 0 where none
    PacketErrorType type{};  ///< kind of problem
    std::string message;     ///< description in English

    auto Tie() const { return std::tie(blockId, type, message); }
};

/// The sensor's continuous data, received on the client's UDP port and filed into three bounded
/// first-in-first-out queues: errors, measurements and profiles. Obtain it with
/// Quil::GetStream; it may outlive the client. Nothing is received before Start.
///
/// Thread safety: every operation may be called from any thread. Problems of the stream never
/// throw; they become entries of the error queue.
class QUIL_API QuilStream {
public:
    QuilStream() = default;
    QuilStream(const QuilStream&) = delete;
    QuilStream& operator=(const QuilStream&) = delete;
    /// Stops and joins the worker if it still runs, and closes the UDP socket.
    virtual ~QuilStream();

    /// Starts (or resumes) filing the received data into the queues.
    virtual void Start() = 0;
    /// Stops filing; the datagram in hand is finished. Takes effect within about a second.
    virtual void Stop() = 0;
    /// Ends the worker (within about a second) and closes the UDP socket. Final: the queues
    /// stay readable, but nothing is received any more.
    virtual void Close() = 0;

    /// Most entries that the overflow rule keeps in each queue (10000 at first).
    virtual std::size_t GetQueueCapacity() = 0;
    /// Sets the capacity; queues holding more entries are not trimmed.
    virtual void SetQueueCapacity(const std::size_t& capacity) = 0;
    /// What a full queue does with a new entry (DropOldest at first).
    virtual QueueOverflowPolicy GetQueueOverflowPolicy() = 0;
    virtual void SetQueueOverflowPolicy(QueueOverflowPolicy policy) = 0;

    /// The UDP socket's receive buffer size in bytes, as the operating system applied it.
    /// @throws boost's system_error (a std::runtime_error) "get_option: ..." on failure.
    virtual int GetReceiveBufferSize() = 0;
    /// @throws boost's system_error (a std::runtime_error) "set_option: ..." on failure.
    virtual void SetReceiveBufferSize(const int& bytes) = 0;

    virtual bool HasError() = 0;
    /// Removes and returns the oldest error.
    /// @throws std::out_of_range "Error queue is empty."
    virtual StreamError PopError() = 0;
    /// Removes and returns the oldest measurement.
    /// @throws std::out_of_range "Measurement queue is empty."
    virtual StreamMeasurement PopMeasurement() = 0;
    virtual bool HasMeasurement() = 0;
    virtual std::size_t GetMeasurementCount() = 0;
    virtual void ClearMeasurements() = 0;
    /// Removes and returns the oldest profile.
    /// @throws std::out_of_range "Profile queue is empty."
    virtual StreamProfile PopProfile() = 0;
    virtual bool HasProfile() = 0;
    virtual std::size_t GetProfileCount() = 0;
    virtual void ClearProfiles() = 0;
};

// @@STREAM-DECLARATIONS-END@@
}  // namespace UdpStreaming

// ---------------------------------------------------------------------------------------------
// The client
// ---------------------------------------------------------------------------------------------

/// A client of one sensor. Create it with Quil::Create.
///
/// Thread safety: the operations may be called from several threads; requests are serialised,
/// so each caller receives the reply to its own request.
class QUIL_API Quil {
public:
    Quil() = default;
    Quil(const Quil&) = default;
    Quil& operator=(const Quil&) = default;
    virtual ~Quil();

    /// Creates a client for the sensor at `host` (name or address; the sensor is always reached
    /// on TCP port 80) whose measurement stream is received on the local UDP port `port`.
    /// Contacts nothing on the network.
    static std::unique_ptr<Quil> Create(const std::string& host, const unsigned short& port);

    /// The stream object that receives the UDP measurement stream on the port given to Create,
    /// created on the first call; later calls return the same object. The stream may outlive
    /// the client.
    /// @throws std::runtime_error "UdpTransport::Open Error: " + reason when the port cannot be
    ///         bound; a later call tries again.
    virtual std::shared_ptr<UdpStreaming::QuilStream> GetStream() = 0;

    // --- Session and roles ---------------------------------------------------------------

    /// Opens the connection (if there is none) and the session.
    /// @throws std::runtime_error "Could not connect to host <host>" when the connection fails,
    ///         or "No matching response found to request with sessionID: ..." without a reply.
    virtual void Connect() = 0;
    /// Ends the session and closes the connection. Never throws.
    virtual void Disconnect() = 0;
    /// Takes `role`; an empty `password` is not sent.
    /// @throws std::domain_error on a wrong password, a role taken by another client, ...
    virtual void Login(const std::string& role, const std::string& password) = 0;
    /// Returns to the role "observer".
    virtual void Logout() = 0;

    // --- Sensor identity -------------------------------------------------------------------

    /// Reads "SensorMetaData". Missing version texts read as "-".
    virtual SensorMetaData GetSensorMetaData() = 0;
};

}  // namespace Varkon::QUILApi
