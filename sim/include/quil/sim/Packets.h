#pragma once

#include "PacketEncoder.h"
#include "Scene.h"

#include <cstdint>

namespace Varkon::QUILApi::Sim {

/// Block payload of data id 0, 50 bytes. Flags 1 to 6: configuration mode (always off), values
/// valid, alarm, object present, and the two digital outputs (object present, alarm). Values 0
/// to 3 are the measurement values of the acquisition, 4 to 6 are 0.
Bytes MeasurementPayload(const Acquired& acquired);

/// Block payload of data ids 1 to 3: every point position of the acquisition. Channel 0 is z and
/// channel 1 x, both in hundredths of a millimetre, x offset by 32768; channel 2 the
/// brightness. A position without a laser line has z 0 and brightness 0. Flags 1 to 4: values
/// valid, alarm, object present, configuration mode; the value at offset 6 is the acquisition
/// index, the one at offset 18 the low 16 bits of the encoder.
Bytes ProfilePayload(const Acquired& acquired, uint8_t dataId);

}  // namespace Varkon::QUILApi::Sim
