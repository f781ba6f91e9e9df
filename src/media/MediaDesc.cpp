#include <Ovra/MediaDesc.h>

namespace Ovra {

VideoDesc& VideoDesc::operator=(const VideoDesc& other) {
    codec = other.codec;
    width = other.width;
    height = other.height;
    frameRateNum = other.frameRateNum;
    frameRateDen = other.frameRateDen;
    bitRate = other.bitRate;
    return *this;
}

VideoRawDesc& VideoRawDesc::operator=(const VideoRawDesc& other) {
    pixelFormat = other.pixelFormat;
    width = other.width;
    height = other.height;
    stride = other.stride;
    frameRateNum = other.frameRateNum;
    frameRateDen = other.frameRateDen;
    return *this;
}

VideoEncDesc& VideoEncDesc::operator=(const VideoEncDesc& other) {
    codec = other.codec;
    profile = other.profile;
    level = other.level;
    width = other.width;
    height = other.height;
    frameRateNum = other.frameRateNum;
    frameRateDen = other.frameRateDen;
    bitRate = other.bitRate;
    maxBitRate = other.maxBitRate;
    rateControl = other.rateControl;
    gopLength = other.gopLength;
    bFrames = other.bFrames;
    return *this;
}

AudioDesc& AudioDesc::operator=(const AudioDesc&) {
    return *this;
}

AudioRawDesc& AudioRawDesc::operator=(const AudioRawDesc& other) {
    sampleRate = other.sampleRate;
    channels = other.channels;
    bitsPerSample = other.bitsPerSample;
    sampleFormat = other.sampleFormat;
    return *this;
}

AudioEncDesc& AudioEncDesc::operator=(const AudioEncDesc& other) {
    codec = other.codec;
    sampleRate = other.sampleRate;
    channels = other.channels;
    bitsPerSample = other.bitsPerSample;
    bitRate = other.bitRate;
    frameSamples = other.frameSamples;
    profile = other.profile;
    return *this;
}

}  // namespace Ovra
