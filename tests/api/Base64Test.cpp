// Base64Decode, canonical and malformed input.
#include "api/Base64.h"
#include "support/Base64Encode.h"
#include "support/ExpectThrow.h"

#include <gtest/gtest.h>

#include <random>

namespace Varkon::QUILApi {
namespace {

using Testing::Throws;

std::string Decoded(const std::string& text) {
    std::string bytes = "unchanged";
    Base64Decode(text, bytes);
    return bytes;
}

std::string Encode(const std::string& bytes) {
    return Testing::Base64Encode(bytes);
}

TEST(Base64Test, DecodesCanonicalText) {
    struct Case {
        std::string text;
        std::string bytes;
    };
    const Case cases[] = {
        {"TWFu", "Man"},
        {"TWE=", "Ma"},
        {"TQ==", "M"},
        {"", ""},
        {"AAECAw==", std::string("\0\1\2\3", 4)},
        {"////", "\xFF\xFF\xFF"},
        {"+++/", "\xFB\xEF\xBF"},
        {"Zm9vYmFy", "foobar"},
        {"Zm9vYmE=", "fooba"},
        {"Zm9vYg==", "foob"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Decoded(c.text), c.bytes) << c.text;
        std::vector<uint8_t> bytes{9};
        Base64Decode(std::string_view(c.text), bytes);
        EXPECT_EQ(bytes, std::vector<uint8_t>(c.bytes.begin(), c.bytes.end())) << c.text;
    }
}

TEST(Base64Test, EveryByteValueRoundTrips) {
    std::string all;
    for (int i = 0; i < 256; ++i) {
        all += static_cast<char>(i);
    }
    std::mt19937 random(4);
    for (std::size_t length = 0; length < 40; ++length) {
        std::string bytes;
        for (std::size_t i = 0; i < length; ++i) {
            bytes += static_cast<char>(random());
        }
        EXPECT_EQ(Decoded(Encode(bytes)), bytes) << length;
    }
    EXPECT_EQ(Decoded(Encode(all)), all);
}

TEST(Base64Test, LengthNotAMultipleOfFour) {
    for (const char* text : {"TWF", "A", "AA", "AAAAA", "AAAAAA", "TWE", "TQ=", "=", "TWFu="}) {
        EXPECT_TRUE(Throws<std::out_of_range>(
            [&] { Decoded(text); }, "Base64Decode: Input data size is not a multiple of 4"))
            << text;
    }
}

TEST(Base64Test, MalformedTextIsRefusedNamingThePosition) {
    struct Case {
        std::string text;
        std::string message;
    };
    const std::string outside = "Base64Decode: Character ";
    const std::string padding = "Base64Decode: Padding \"=\" at position ";
    const Case cases[] = {
        {"TW-u", outside + "0x2D at position 2 is outside the Base64 alphabet"},
        {"TWFuTW_u", outside + "0x5F at position 6 is outside the Base64 alphabet"},
        {"TWF\n", outside + "0x0A at position 3 is outside the Base64 alphabet"},
        {"TW u", outside + "0x20 at position 2 is outside the Base64 alphabet"},
        {std::string("TW\0u", 4), outside + "0x00 at position 2 is outside the Base64 alphabet"},
        {"TW\x80u", outside + "0x80 at position 2 is outside the Base64 alphabet"},
        {"TWF\xFF", outside + "0xFF at position 3 is outside the Base64 alphabet"},
        {"\xC3\xA4"
         "Fu",
         outside + "0xC3 at position 0 is outside the Base64 alphabet"},
        {"T-E=", outside + "0x2D at position 1 is outside the Base64 alphabet"},
        {"TQ=a", padding + "2 is not at the end of the input data"},
        {"TW=u", padding + "2 is not at the end of the input data"},
        {"=WFu", padding + "0 is not at the end of the input data"},
        {"TQ==TWFu", padding + "2 is not at the end of the input data"},
        {"TWE=TWE=", padding + "3 is not at the end of the input data"},
        {"T===", padding + "1 is not at the end of the input data"},
        {"====", padding + "0 is not at the end of the input data"},
        {"TWFu====", padding + "4 is not at the end of the input data"},
    };
    for (const auto& c : cases) {
        std::string bytes = "unchanged";
        EXPECT_TRUE(Throws<std::invalid_argument>([&] { Base64Decode(c.text, bytes); }, c.message))
            << c.text;
        EXPECT_EQ(bytes, "unchanged");
        std::vector<uint8_t> vector{1, 2};
        EXPECT_TRUE(Throws<std::invalid_argument>(
            [&] { Base64Decode(std::string_view(c.text), vector); }, c.message));
        EXPECT_EQ(vector, (std::vector<uint8_t>{1, 2}));
    }
}

TEST(Base64Test, EveryByteOutsideTheAlphabetIsRefused) {
    const std::string alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=";
    for (int byte = 0; byte < 256; ++byte) {
        if (alphabet.find(static_cast<char>(byte)) != std::string::npos) {
            continue;
        }
        const std::string text = std::string("AAAA") + static_cast<char>(byte) + "AAA";
        std::string bytes;
        EXPECT_THROW(Base64Decode(text, bytes), std::invalid_argument) << byte;
    }
}

}  // namespace
}  // namespace Varkon::QUILApi
