#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace tandrel {

// Which reader takes an input: the exact WAV reader, the MP3 frame reader (gapless trimming,
// ending-early checks), or FFmpeg's demuxers and decoders for every other audio.
enum class InputReader { None, Wav, Mp3, Decoded };

// The kind of audio a row shows by its icon.
enum class FormatFamily { Wave, Mp3, Wma, Lossless, Lossy };

// A picture a file carries (a cover), as its tags hold it.
struct TrackPicture {
    std::string mimeType;
    std::string description;
    std::vector<std::uint8_t> data;
};

// One input as adding it found it, and where it lands in the output.
struct Track {
    std::string path;
    InputReader reader = InputReader::None;
    FormatFamily family = FormatFamily::Wave;
    // The container ("WAV", "RF64", "MP3", "ASF", "FLAC", "Ogg", "MP4", "AIFF", ...) and
    // FFmpeg's name of the codec ("pcm_s16le", "mp3", "flac", "aac", ...).
    std::string container;
    std::string codec;
    // The format the reader hands out: 16 bits for lossy codecs, the source's own depth
    // (8, 16, 24 or 32) for PCM and lossless ones.
    std::uint32_t sampleRate = 0;
    std::uint32_t channels = 0;
    std::uint32_t bits = 0;
    std::uint64_t sizeKB = 0;
    std::uint32_t seconds = 0;
    // The PCM bytes (in the format above) that joining it must yield, when the file states
    // them exactly; -1 when its length is only an estimate.
    std::int64_t exactBytes = -1;
    // The file's size and the PCM it decodes to (an estimate unless exactBytes says it).
    std::uint64_t fileBytes = 0;
    std::uint64_t pcmBytes = 0;
    // More about a refusal, for its message: the codec no decoder knows, the channel count.
    std::string refusalDetail;
    // Tags as (name, value) pairs; whether the file has a picture, and the picture itself
    // once asked for (see ReadTrackTags).
    std::vector<std::pair<std::string, std::string>> tags;
    bool hasPicture = false;
    std::vector<TrackPicture> pictures;
    // Its first sample frame in the output, once the join has placed it.
    std::uint64_t startFrame = 0;
};

} // namespace tandrel
