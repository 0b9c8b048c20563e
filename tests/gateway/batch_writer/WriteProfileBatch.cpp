// Writes one profiles-lane message of the gateway's own encoder to standard output, for the
// Python decoder's test: three profiles (block ids 7, 8, 9; 3, 3 and 2 points; channel 1 in the
// second, channel 2 in the third; no laser line at the second's first point), sensor "left",
// decimation 2, compressed when the first argument is "zstd".
#include "ProfileBatch.h"

#include <iostream>
#include <string>

using namespace Varkon::QuilGateway;

int main(int argc, char** argv) {
    std::vector<ArrivedProfile> batch;
    for (uint32_t i = 0; i < 3; ++i) {
        ArrivedProfile arrived;
        auto& profile = arrived.profile;
        profile.blockId = 7 + i;
        profile.timestamp = 1000000 + i;
        profile.field6 = 100 + i;
        profile.field18 = static_cast<uint16_t>(200 + i);
        profile.qualityID = static_cast<uint8_t>(i);
        profile.flags = {i == 1, false, false, true};
        profile.pointCount = i == 2 ? 2 : 3;
        for (uint16_t p = 0; p < profile.pointCount; ++p) {
            // The second profile's first point has no laser line (word 0).
            profile.channel0.push_back(
                i == 1 && p == 0 ? uint16_t{0} : static_cast<uint16_t>(1000 * (i + 1) + p));
        }
        profile.hasChannel1 = i == 1;
        profile.hasChannel2 = i == 2;
        if (profile.hasChannel1) {
            profile.channel1 = {11, 12, 13};
        }
        if (profile.hasChannel2) {
            profile.channel2 = {21, 22};
        }
        arrived.arrivalUs = 1700000000000000 + i;
        batch.push_back(std::move(arrived));
    }
    const Compression compression =
        argc > 1 && std::string(argv[1]) == "zstd" ? Compression::Zstd : Compression::None;
    std::cout << EncodeProfileBatch(
        "left", batch, 2, compression,
        {ChannelScale{0.01, -5.0}, ChannelScale{0.02, 0.0}, ChannelScale{}});
    return 0;
}
