#pragma once

#include <Ovra/Export.h>

#include <cstdint>

namespace Ovra {

// Plain description records of video and audio streams, exchanged between the server's modules.
// They hold scalar fields only; copying copies the fields. Codes and formats are FourCC values
// (e.g. 'H264', 'HEVC', 'NV12', 'AAC ') packed little-endian: the first character is the low
// byte.

// What a stream carries, whatever its form.
struct OVRA_PLATFORM_MISC_API VideoDesc {
    std::uint32_t codec;         // FourCC of the coding, 0 when raw
    std::uint32_t width;         // pixels
    std::uint32_t height;        // pixels
    std::uint32_t frameRateNum;  // frame rate as a fraction (30000/1001 for 29.97)
    std::uint32_t frameRateDen;
    std::uint32_t bitRate;  // bits per second, 0 when unknown
    VideoDesc& operator=(const VideoDesc& other);
};

// Uncompressed frames as a decoder delivers them or a renderer takes them.
struct OVRA_PLATFORM_MISC_API VideoRawDesc {
    std::uint32_t pixelFormat;  // FourCC ('NV12', 'I420', 'BGRA')
    std::uint32_t width;
    std::uint32_t height;
    std::uint32_t stride;  // bytes per row of the first plane
    std::uint32_t frameRateNum;
    std::uint32_t frameRateDen;
    VideoRawDesc& operator=(const VideoRawDesc& other);
};

// A compressed stream as an encoder produces it or a camera sends it.
struct OVRA_PLATFORM_MISC_API VideoEncDesc {
    std::uint32_t codec;    // FourCC ('H264', 'HEVC', 'MJPG')
    std::uint32_t profile;  // codec profile number (e.g. 100 for H.264 High)
    std::uint32_t level;    // codec level times ten (41 for 4.1)
    std::uint32_t width;
    std::uint32_t height;
    std::uint32_t frameRateNum;
    std::uint32_t frameRateDen;
    std::uint32_t bitRate;      // target bits per second
    std::uint32_t maxBitRate;   // peak bits per second for variable rate, else equal to bitRate
    std::uint32_t rateControl;  // 0 constant, 1 variable, 2 constant quality
    std::uint32_t gopLength;    // frames from one key frame to the next
    std::uint32_t bFrames;      // consecutive B-frames, 0 for none
    VideoEncDesc& operator=(const VideoEncDesc& other);
};

// Audio in general; no fields yet, the raw and encoded records carry the details.
struct OVRA_PLATFORM_MISC_API AudioDesc {
    AudioDesc& operator=(const AudioDesc& other);
};

// Uncompressed samples (PCM).
struct OVRA_PLATFORM_MISC_API AudioRawDesc {
    std::uint32_t sampleRate;  // samples per second per channel
    std::uint16_t channels;
    std::uint16_t bitsPerSample;
    std::uint32_t sampleFormat;  // 0 signed integer, 1 floating point
    AudioRawDesc& operator=(const AudioRawDesc& other);
};

// A compressed audio stream.
struct OVRA_PLATFORM_MISC_API AudioEncDesc {
    std::uint32_t codec;  // FourCC ('AAC ', 'G711', 'OPUS')
    std::uint32_t sampleRate;
    std::uint16_t channels;
    std::uint16_t bitsPerSample;  // of the decoded samples
    std::uint32_t bitRate;        // bits per second
    std::uint32_t frameSamples;   // samples per channel in one coded frame (1024 for AAC)
    std::uint32_t profile;        // codec profile (e.g. 2 for AAC-LC), 0 when not applicable
    AudioEncDesc& operator=(const AudioEncDesc& other);
};

}  // namespace Ovra
